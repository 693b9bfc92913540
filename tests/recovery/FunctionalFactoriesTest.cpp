// How functionals such as the operation log's observers are had: locally unless the provider's
// access says the environment is not served here, through an agent when the local factory
// makes nothing, the agent's form chosen by whether the name has an agent name.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <memory>
#include <stdexcept>

#include "JRXFunctional.h"

using namespace JRX;

namespace {

const JRXEID kHere{0x10, 1}, kThere{0x20, 2};

struct Access : JRXAccessPrototype {
  bool isLocal(const JRXEID& eid) override { return eid == kHere; }
};
struct Provider : JRXAccessProviderPrototype {
  intrusive_ptr<JRXAccessPrototype> getAccess() override { return access; }
  intrusive_ptr<Access> access;
};

// Both kinds of factory; what they make tells how they were asked.
using Made = std::shared_ptr<std::string>;
struct Factories : JRXFunctionalFactoryLocal<Made>, JRXFunctionalFactoryAgent<Made> {
  explicit Factories(bool creates) : creates(creates) {}
  Made create(intrusive_ptr<JRXAccessProviderPrototype> p) override {
    return creates ? std::make_shared<std::string>(p ? "local+provider" : "local") : Made();
  }
  Made create(const JRXEID& eid, intrusive_ptr<JRXAccessProviderPrototype>,
              const std::string& name) override {
    return std::make_shared<std::string>("agent " + name + (eid == kThere ? "" : "?"));
  }
  Made create(const JRXEID& eid, intrusive_ptr<JRXAccessProviderPrototype> p) override {
    return create(eid, p, "-");
  }
  const bool creates;
};

TEST(FunctionalFactories, LocalUnlessServedElsewhereThenTheAgent) {
  // "p" has both factories and an agent name, "q" a local one that makes nothing and an agent
  // one, "r" only a local one.
  JRXFunctionalMultiplexer<Made> factory;
  const auto makes = boost::make_shared<Factories>(true);
  factory.registerLocal("p", makes);
  factory.registerAgent("p", makes);
  factory.registerAgentName("p", "relay");
  factory.registerLocal("q", boost::make_shared<Factories>(false));
  factory.registerAgent("q", makes);
  factory.registerLocal("r", makes);
  factory.registerAgentName("r", "ignored");
  // The environment, the provider (none, with an access object, without one), the name, and
  // what is made.
  const std::tuple<JRXEID, char, const char*, const char*> cases[] = {
      {kThere, '-', "q", "agent -"},       {kHere, 'a', "p", "local+provider"},
      {kThere, 'a', "p", "agent relay"},   {kThere, 'n', "p", "local+provider"},
      {kThere, 'a', "r", "none"},          {kHere, 'a', "other", "none"},
  };
  for (const auto& [eid, kind, name, expected] : cases) {
    intrusive_ptr<Provider> provider(kind == '-' ? nullptr : new Provider());
    if (kind == 'a') provider->access = new Access();
    const Made made = factory.get(eid, provider, name);
    EXPECT_EQ(made ? *made : "none", expected) << name;
  }
  EXPECT_THROW(factory.registerLocal("x", nullptr), std::invalid_argument);
  EXPECT_THROW(factory.registerAgent("x", nullptr), std::invalid_argument);
}

}  // namespace
