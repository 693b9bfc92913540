// The observer factory: local first unless the environment is not served here, the agent as
// fallback, agent names choosing the creation form, and no reference left behind.
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
  enum Call { kAny, kLocal, kAgent };
  enum ProviderKind { kNone, kWithAccess, kWithoutAccess };
  const struct Case {
    Call call;
    JRXEID eid;
    ProviderKind provider;
    bool creates, agent;
    const char *agentName, *name, *origin, *calls;
  } cases[] = {
      {kAny, kThere, kNone, false, true, "", "p", "agent got r", " local agent -"},
      {kAny, kHere, kWithAccess, true, true, "", "p", "local got r", " local+provider"},
      {kAny, kThere, kWithAccess, true, true, "relay", "p", "agent got r", " agent relay"},
      {kAny, kThere, kWithoutAccess, true, true, "", "p", "local got r", " local+provider"},
      {kAny, kThere, kWithAccess, true, false, "", "p", "none", ""},
      {kAny, kHere, kWithAccess, true, true, "", "other", "none", ""},
      {kLocal, kThere, kWithAccess, true, true, "relay", "p", "local got r", " local+provider"},
      {kAgent, kThere, kWithAccess, true, true, "", "p", "agent got r", " agent -"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    auto factories = boost::make_shared<Factories>();
    factories->creates = c.creates;
    JRXOpLogObserverFactory factory;
    factory.registerLocal("p", factories);
    if (c.agent) factory.registerAgent("p", factories);
    if (*c.agentName) factory.registerAgentName("p", c.agentName);
    factory.registerAgentName("other", "ignored");
    intrusive_ptr<Provider> provider(c.provider == kNone ? nullptr : new Provider());
    if (c.provider == kWithAccess) provider->access = new Access();
    {
      Observer o = c.call == kLocal   ? factory.getOpLogObserverLocal(provider, c.name)
                   : c.call == kAgent ? factory.getOpLogObserverAgent(c.eid, provider, c.name)
                                      : factory.getOpLogObserver(c.eid, provider, c.name);
      if (o) o->receive(JRXRequestProgressData("r"));
      EXPECT_EQ(o ? static_cast<Receiver*>(o.get())->origin : "none", c.origin);
      EXPECT_TRUE(!o || o->refCount() == 1);
    }
    EXPECT_EQ(factories->calls, c.calls);
    // Only the test's own references remain.
    EXPECT_TRUE(!provider || (provider->refCount() == 1 &&
                              (!provider->access || provider->access->refCount() == 1)));
  }
  JRXOpLogObserverFactory factory;
  EXPECT_THROW(factory.registerLocal("x", nullptr), std::invalid_argument);
  EXPECT_THROW(factory.registerAgent("x", nullptr), std::invalid_argument);
}

}  // namespace
