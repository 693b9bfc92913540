// JRXOpLogObserverFactory: local first unless the environment is not served here, the agent
// as fallback, agent names choosing the creation form, and no reference left behind.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "JRXOpLogObserverFactory.h"

using namespace JRX;

namespace {

typedef JRXOpLogObserverFactory::Observer Observer;
typedef std::vector<std::string> Calls;

struct Receiver : JRXReceiver<JRXRequestProgressData> {
  explicit Receiver(std::string origin) : origin(std::move(origin)) {}
  void receive(const JRXRequestProgressData& r) override { received.push_back(r.id); }
  std::string origin;
  Calls received;
};

struct Access : JRXAccessPrototype {
  explicit Access(JRXEID local) : local(local) {}
  bool isLocal(const JRXEID& eid) override { return eid == local; }
  JRXEID local;
};

struct Provider : JRXAccessProviderPrototype {
  intrusive_ptr<JRXAccessPrototype> getAccess() override { return access; }
  intrusive_ptr<Access> access;
};

struct LocalFactory : JRXFunctionalFactoryLocal<Observer> {
  LocalFactory(Calls& calls, bool creates) : calls(calls), creates(creates) {}
  Observer create(intrusive_ptr<JRXAccessProviderPrototype> provider) override {
    calls.push_back(std::string("local") + (provider ? "+provider" : ""));
    if (creates) made = new Receiver("local");
    return made;
  }
  Calls& calls;
  bool creates;
  intrusive_ptr<Receiver> made;
};

struct AgentFactory : JRXFunctionalFactoryAgent<Observer> {
  explicit AgentFactory(Calls& calls) : calls(calls) {}
  Observer create(const JRXEID& eid, intrusive_ptr<JRXAccessProviderPrototype>,
                  const std::string& agentName) override {
    calls.push_back("agent " + eid.toString() + " " + agentName);
    return new Receiver("agent");
  }
  Observer create(const JRXEID& eid, intrusive_ptr<JRXAccessProviderPrototype>) override {
    calls.push_back("agent " + eid.toString());
    return new Receiver("agent");
  }
  Calls& calls;
};

TEST(ObserverFactory, ChoosesTheLocalOrTheAgentFactory) {
  const JRXEID here{0x10, 1}, there{0x20, 2};
  const std::string t = there.toString();
  enum Call { kAny, kLocal, kAgent };
  struct Case {
    const char* what;
    Call call;
    JRXEID eid;
    bool provider, access, localCreates, agent;
    const char* agentName;
    const char* name;
    std::string origin;
    Calls calls;
  };
  const Case cases[] = {
      {"no provider: local, then agent", kAny, there, false, false, false, true, "", "p", "agent",
       {"local", "agent " + t}},
      {"served here: local only", kAny, here, true, true, true, true, "", "p", "local", {"local+provider"}},
      {"not served here: agent only, by its name", kAny, there, true, true, true, true, "relay", "p",
       "agent", {"agent " + t + " relay"}},
      {"no access object: local first", kAny, there, true, false, true, true, "", "p", "local",
       {"local+provider"}},
      {"not served here, no agent", kAny, there, true, true, true, false, "", "p", "none", {}},
      {"unknown name", kAny, here, true, true, true, true, "", "other", "none", {}},
      {"unknown name, elsewhere", kAny, there, true, true, true, true, "", "other", "none", {}},
      {"local by name", kLocal, there, true, true, true, true, "", "p", "local", {"local+provider"}},
      {"local, unknown name", kLocal, here, true, true, true, true, "", "other", "none", {}},
      {"agent without a name", kAgent, there, true, true, true, true, "", "p", "agent", {"agent " + t}},
      {"agent, unknown name", kAgent, there, true, true, true, true, "", "other", "none", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Calls calls;
    JRXOpLogObserverFactory factory;
    auto local = boost::make_shared<LocalFactory>(calls, c.localCreates);
    factory.registerLocal("p", local);
    if (c.agent) factory.registerAgent("p", boost::make_shared<AgentFactory>(calls));
    if (*c.agentName) factory.registerAgentName("p", c.agentName);
    factory.registerAgentName("other", "ignored");
    intrusive_ptr<Provider> provider(c.provider ? new Provider() : nullptr);
    if (provider && c.access) provider->access = new Access(here);
    {
      Observer o = c.call == kLocal   ? factory.getOpLogObserverLocal(provider, c.name)
                   : c.call == kAgent ? factory.getOpLogObserverAgent(c.eid, provider, c.name)
                                      : factory.getOpLogObserver(c.eid, provider, c.name);
      EXPECT_EQ(o ? static_cast<Receiver*>(o.get())->origin : "none", c.origin);
      if (c.origin == "local") {
        EXPECT_EQ(o.get(), local->made.get());
        o->receive(JRXRequestProgressData("r-1"));
        EXPECT_EQ(local->made->received, Calls{"r-1"});
      }
    }
    EXPECT_EQ(calls, c.calls);
    // Only the test's own references remain.
    EXPECT_TRUE(!local->made || local->made->refCount() == 1);
    EXPECT_TRUE(!provider || provider->refCount() == 1);
    EXPECT_TRUE(!provider || !provider->access || provider->access->refCount() == 1);
  }
}

TEST(ObserverFactory, ThrowingFactoryReleasesEveryReferenceAndEmptyOnesAreRefused) {
  struct Throwing : JRXFunctionalFactoryLocal<Observer> {
    Observer create(intrusive_ptr<JRXAccessProviderPrototype>) override {
      throw std::runtime_error("factory broke");
    }
  };
  JRXOpLogObserverFactory factory;
  factory.registerLocal("p", boost::make_shared<Throwing>());
  intrusive_ptr<Provider> provider(new Provider());
  provider->access = new Access(JRXEID(0x10, 1));
  EXPECT_THROW(factory.getOpLogObserver(JRXEID(0x10, 1), provider, "p"), std::runtime_error);
  EXPECT_EQ(1, provider->refCount());
  EXPECT_EQ(1, provider->access->refCount());
  EXPECT_THROW(factory.registerLocal("x", nullptr), std::invalid_argument);
  EXPECT_THROW(factory.registerAgent("x", nullptr), std::invalid_argument);
  EXPECT_FALSE(factory.getOpLogObserver(JRXEID(0x10, 1), provider, "x"));
}

}  // namespace
