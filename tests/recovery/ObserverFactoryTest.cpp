// JRXOpLogObserverFactory: local first unless the environment is not local, the agent as
// fallback, agent names choosing the creation form, and no reference left behind.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "JRXOpLogObserverFactory.h"

using namespace JRX;

namespace {

typedef JRXOpLogObserverFactory::Observer Observer;

class Receiver : public JRXReceiver<JRXRequestProgressData> {
 public:
  explicit Receiver(std::string origin) : origin(std::move(origin)) {}
  void receive(const JRXRequestProgressData& r) override { received.push_back(r.id); }
  std::string origin;
  std::vector<std::string> received;
};

class Access : public JRXAccessPrototype {
 public:
  explicit Access(JRXEID local) : local(local) {}
  bool isLocal(const JRXEID& eid) override {
    ++tests;
    return eid == local;
  }
  JRXEID local;
  int tests = 0;
};

class Provider : public JRXAccessProviderPrototype {
 public:
  intrusive_ptr<JRXAccessPrototype> getAccess() override {
    ++asked;
    return access;
  }
  intrusive_ptr<Access> access;
  int asked = 0;
};

// The calls a factory received, in order.
struct Calls {
  std::vector<std::string> log;
};

class LocalFactory : public JRXFunctionalFactoryLocal<Observer> {
 public:
  LocalFactory(Calls& calls, bool creates) : calls(calls), creates(creates) {}
  Observer create(intrusive_ptr<JRXAccessProviderPrototype> provider) override {
    calls.log.push_back(std::string("local") + (provider ? "+provider" : ""));
    if (!creates) return Observer();
    made = new Receiver("local");
    return made;
  }
  Calls& calls;
  bool creates;
  intrusive_ptr<Receiver> made;
};

class AgentFactory : public JRXFunctionalFactoryAgent<Observer> {
 public:
  explicit AgentFactory(Calls& calls) : calls(calls) {}
  Observer create(const JRXEID& eid, intrusive_ptr<JRXAccessProviderPrototype>,
                  const std::string& agentName) override {
    calls.log.push_back("agent3:" + eid.toString() + ":" + agentName);
    return make();
  }
  Observer create(const JRXEID& eid, intrusive_ptr<JRXAccessProviderPrototype>) override {
    calls.log.push_back("agent2:" + eid.toString());
    return make();
  }
  Observer make() {
    made = new Receiver("agent");
    return made;
  }
  Calls& calls;
  intrusive_ptr<Receiver> made;
};

class ObserverFactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    provider = new Provider();
    provider->access = new Access(here);
  }

  // Only the test's own references remain.
  void expectNoLeak() {
    EXPECT_EQ(1, provider->refCount());
    EXPECT_EQ(1, provider->access->refCount());
  }

  static std::string origin(const Observer& o) {
    return o ? static_cast<Receiver*>(o.get())->origin : "none";
  }

  const JRXEID here{0x10, 1};
  const JRXEID there{0x20, 2};
  Calls calls;
  intrusive_ptr<Provider> provider;
  JRXOpLogObserverFactory factory;
};

TEST_F(ObserverFactoryTest, EmptyProviderTriesLocalThenAgent) {
  factory.registerLocal("progress", boost::make_shared<LocalFactory>(calls, false));
  factory.registerAgent("progress", boost::make_shared<AgentFactory>(calls));
  Observer o = factory.getOpLogObserver(there, nullptr, "progress");
  EXPECT_EQ("agent", origin(o));
  EXPECT_EQ((std::vector<std::string>{"local", "agent2:" + there.toString()}), calls.log);
}

TEST_F(ObserverFactoryTest, LocalObserverIsReturnedWithoutAskingTheAgent) {
  auto local = boost::make_shared<LocalFactory>(calls, true);
  factory.registerLocal("progress", local);
  factory.registerAgent("progress", boost::make_shared<AgentFactory>(calls));
  {
    Observer o = factory.getOpLogObserver(here, provider, "progress");
    EXPECT_EQ("local", origin(o));
    EXPECT_TRUE(local->made.get() == o.get());
    EXPECT_EQ(2, o->refCount()) << "the factory's copy and ours";
    o->receive(JRXRequestProgressData("r-1"));
    EXPECT_EQ(std::vector<std::string>{"r-1"}, local->made->received);
  }
  EXPECT_EQ((std::vector<std::string>{"local+provider"}), calls.log);
  EXPECT_EQ(1, provider->asked);
  EXPECT_EQ(1, provider->access->tests);
  EXPECT_EQ(1, local->made->refCount());
  expectNoLeak();
}

TEST_F(ObserverFactoryTest, EnvironmentThatIsNotLocalSkipsTheLocalFactory) {
  factory.registerLocal("progress", boost::make_shared<LocalFactory>(calls, true));
  factory.registerAgent("progress", boost::make_shared<AgentFactory>(calls));
  factory.registerAgentName("progress", "oplog-agent");
  {
    Observer o = factory.getOpLogObserver(there, provider, "progress");
    EXPECT_EQ("agent", origin(o));
  }
  EXPECT_EQ((std::vector<std::string>{"agent3:" + there.toString() + ":oplog-agent"}),
            calls.log);
  expectNoLeak();
}

TEST_F(ObserverFactoryTest, ProviderWithoutAccessObjectTriesLocalFirst) {
  provider->access.reset();
  factory.registerLocal("progress", boost::make_shared<LocalFactory>(calls, true));
  factory.registerAgent("progress", boost::make_shared<AgentFactory>(calls));
  Observer o = factory.getOpLogObserver(there, provider, "progress");
  EXPECT_EQ("local", origin(o));
  EXPECT_EQ(1, provider->asked);
  o.reset();
  EXPECT_EQ(1, provider->refCount());
}

TEST_F(ObserverFactoryTest, AgentNamesChooseTheCreationForm) {
  factory.registerAgent("with-name", boost::make_shared<AgentFactory>(calls));
  factory.registerAgentName("with-name", "relay");
  factory.registerAgent("without", boost::make_shared<AgentFactory>(calls));
  factory.registerAgentName("unrelated", "ignored");
  EXPECT_EQ("agent", origin(factory.getOpLogObserverAgent(there, provider, "with-name")));
  EXPECT_EQ("agent", origin(factory.getOpLogObserverAgent(there, provider, "without")));
  EXPECT_EQ((std::vector<std::string>{"agent3:" + there.toString() + ":relay",
                                      "agent2:" + there.toString()}),
            calls.log);
  expectNoLeak();
}

TEST_F(ObserverFactoryTest, UnknownNamesGiveEmptyObservers) {
  factory.registerLocal("progress", boost::make_shared<LocalFactory>(calls, true));
  factory.registerAgent("progress", boost::make_shared<AgentFactory>(calls));
  EXPECT_FALSE(factory.getOpLogObserverLocal(provider, "other"));
  EXPECT_FALSE(factory.getOpLogObserverAgent(there, provider, "other"));
  EXPECT_FALSE(factory.getOpLogObserver(here, provider, "other"));
  EXPECT_FALSE(factory.getOpLogObserver(there, provider, "other"));
  EXPECT_TRUE(calls.log.empty());
  expectNoLeak();
}

TEST_F(ObserverFactoryTest, LocalOnlyFactoryYieldsNothingForARemoteEnvironment) {
  factory.registerLocal("progress", boost::make_shared<LocalFactory>(calls, true));
  EXPECT_FALSE(factory.getOpLogObserver(there, provider, "progress"));
  EXPECT_TRUE(calls.log.empty());
  EXPECT_EQ("local", origin(factory.getOpLogObserverLocal(provider, "progress")));
  expectNoLeak();
}

TEST_F(ObserverFactoryTest, ThrowingFactoryReleasesEveryReference) {
  struct Throwing : JRXFunctionalFactoryLocal<Observer> {
    Observer create(intrusive_ptr<JRXAccessProviderPrototype>) override {
      throw std::runtime_error("factory broke");
    }
  };
  factory.registerLocal("progress", boost::make_shared<Throwing>());
  EXPECT_THROW(factory.getOpLogObserver(here, provider, "progress"), std::runtime_error);
  expectNoLeak();
}

TEST_F(ObserverFactoryTest, EmptyFactoriesAreRefused) {
  EXPECT_THROW(factory.registerLocal("x", nullptr), std::invalid_argument);
  EXPECT_THROW(factory.registerAgent("x", nullptr), std::invalid_argument);
  EXPECT_FALSE(factory.getOpLogObserver(here, provider, "x"));
}

}  // namespace
