// The observer factory: local first unless the environment is not served here, the agent as
// fallback, and agent names choosing the creation form.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <stdexcept>

#include "JRXOpLogObserverFactory.h"

using namespace JRX;

namespace {

typedef JRXOpLogObserverFactory::Observer Observer;
const JRXEID kHere{0x10, 1}, kThere{0x20, 2};

struct Receiver : JRXReceiver<JRXRequestProgressData> {
  explicit Receiver(std::string origin) : origin(std::move(origin)) {}
  void receive(const JRXRequestProgressData& r) override { origin += " got " + r.id; }
  std::string origin;
};
struct Access : JRXAccessPrototype {
  bool isLocal(const JRXEID& eid) override { return eid == kHere; }
};
struct Provider : JRXAccessProviderPrototype {
  intrusive_ptr<JRXAccessPrototype> getAccess() override { return access; }
  intrusive_ptr<Access> access;
};

// Both kinds of factory, noting what they are asked.
struct Factories : JRXFunctionalFactoryLocal<Observer>, JRXFunctionalFactoryAgent<Observer> {
  Observer create(intrusive_ptr<JRXAccessProviderPrototype> p) override {
    calls += std::string(" local") + (p ? "+provider" : "");
    return creates ? Observer(new Receiver("local")) : Observer();
  }
  Observer create(const JRXEID& eid, intrusive_ptr<JRXAccessProviderPrototype>,
                  const std::string& name) override {
    calls += " agent " + name + (eid == kThere ? "" : "?");
    return new Receiver("agent");
  }
  Observer create(const JRXEID& eid, intrusive_ptr<JRXAccessProviderPrototype> p) override {
    return create(eid, p, "-");
  }
  bool creates = true;
  std::string calls;
};

TEST(ObserverFactory, ChoosesTheLocalOrTheAgentFactory) {
  // The getter (any, local, agent), the environment, the provider (none, with an access object,
  // without), whether the local factory creates and an agent factory is registered, the agent
  // name registered, the name asked for; then what the factories were asked, and the observer.
  const std::tuple<char, JRXEID, char, bool, bool, const char*, const char*, const char*> cases[] = {
      {'*', kThere, '-', false, true, "", "p", " local agent - | agent got r"},
      {'*', kHere, 'a', true, true, "", "p", " local+provider | local got r"},
      {'*', kThere, 'a', true, true, "relay", "p", " agent relay | agent got r"},
      {'*', kThere, 'n', true, true, "", "p", " local+provider | local got r"},
      {'*', kThere, 'a', true, false, "", "p", " | none"},
      {'*', kHere, 'a', true, true, "", "other", " | none"},
      {'l', kThere, 'a', true, true, "relay", "p", " local+provider | local got r"},
      {'a', kThere, 'a', true, true, "", "p", " agent - | agent got r"},
  };
  for (const auto& [call, eid, kind, creates, agent, agentName, name, expected] : cases) {
    SCOPED_TRACE(expected);
    auto factories = boost::make_shared<Factories>();
    factories->creates = creates;
    JRXOpLogObserverFactory factory;
    factory.registerLocal("p", factories);
    if (agent) factory.registerAgent("p", factories);
    if (*agentName) factory.registerAgentName("p", agentName);
    factory.registerAgentName("other", "ignored");
    intrusive_ptr<Provider> provider(kind == '-' ? nullptr : new Provider());
    if (kind == 'a') provider->access = new Access();
    Observer o = call == 'l'   ? factory.getOpLogObserverLocal(provider, name)
                 : call == 'a' ? factory.getOpLogObserverAgent(eid, provider, name)
                               : factory.getOpLogObserver(eid, provider, name);
    if (o) o->receive(JRXRequestProgressData("r"));
    EXPECT_EQ(factories->calls + " | " + (o ? static_cast<Receiver*>(o.get())->origin : "none"),
              expected);
  }
  JRXOpLogObserverFactory factory;
  EXPECT_THROW(factory.registerLocal("x", nullptr), std::invalid_argument);
  EXPECT_THROW(factory.registerAgent("x", nullptr), std::invalid_argument);
}

}  // namespace
