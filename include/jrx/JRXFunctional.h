// Functional factories: how a caller obtains a functional object (an observer, a service
// proxy) by name, created in this process or reached through an agent for an environment.
#pragma once

#include <boost/intrusive_ptr.hpp>
#include <boost/shared_ptr.hpp>
#include <map>
#include <stdexcept>
#include <string>

#include "JRXGUID.h"
#include "JRXRefCounter.h"
#include "JRXRequest.h"
#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

namespace JRX {

// A counted object that is handed values of T, one at a time.
template <class T>
class JRXReceiver : public virtual JRXRefCounter {
 public:
  virtual void receive(const T& value) = 0;
};

// Creates the functional in this process; an empty result means it cannot be had here.
template <class T>
class JRXFunctionalFactoryLocal {
 public:
  virtual ~JRXFunctionalFactoryLocal() = default;
  virtual T create(intrusive_ptr<JRXAccessProviderPrototype> provider) = 0;
};

// Reaches the functional of environment `eid` through an agent, optionally under an agent
// name of its own.
template <class T>
class JRXFunctionalFactoryAgent {
 public:
  virtual ~JRXFunctionalFactoryAgent() = default;
  virtual T create(const JRXEID& eid, intrusive_ptr<JRXAccessProviderPrototype> provider,
                   const std::string& agentName) = 0;
  virtual T create(const JRXEID& eid, intrusive_ptr<JRXAccessProviderPrototype> provider) = 0;
};

// Factories by functional name. Registration happens before use; the getters only read, so
// concurrent getters are safe while nobody registers.
template <class T>
class JRXFunctionalMultiplexer {
 public:
  typedef JRXFunctionalFactoryLocal<T> LocalFactory;
  typedef JRXFunctionalFactoryAgent<T> AgentFactory;

  virtual ~JRXFunctionalMultiplexer() = default;

  // A factory replaces one registered earlier under the same name. An empty factory is
  // refused (std::invalid_argument) and nothing changes.
  void registerLocal(const std::string& name, boost::shared_ptr<LocalFactory> factory) {
    if (!factory) throw std::invalid_argument("empty local factory for \"" + name + "\"");
    local_[name] = factory;
  }
  void registerAgent(const std::string& name, boost::shared_ptr<AgentFactory> factory) {
    if (!factory) throw std::invalid_argument("empty agent factory for \"" + name + "\"");
    agent_[name] = factory;
  }
  // The text handed to the agent factory of `name` on creation.
  void registerAgentName(const std::string& name, const std::string& agentName) {
    agentNames_[name] = agentName;
  }
  void unregister(const std::string& name) {
    local_.erase(name);
    agent_.erase(name);
    agentNames_.erase(name);
  }

  T getLocal(intrusive_ptr<JRXAccessProviderPrototype> provider, const std::string& name) const {
    auto f = local_.find(name);
    if (f == local_.end()) return T();
    return f->second->create(provider);
  }

  T getAgent(const JRXEID& eid, intrusive_ptr<JRXAccessProviderPrototype> provider,
             const std::string& name) const {
    auto f = agent_.find(name);
    if (f == agent_.end()) return T();
    auto n = agentNames_.find(name);
    if (n != agentNames_.end()) return f->second->create(eid, provider, n->second);
    return f->second->create(eid, provider);
  }

  // The local functional unless the provider's access object says `eid` is not served
  // here; the agent whenever the local path yields nothing.
  T get(const JRXEID& eid, intrusive_ptr<JRXAccessProviderPrototype> provider,
        const std::string& name) const {
    if (provider && !servedHere(*provider, eid)) return getAgent(eid, provider, name);
    T local = getLocal(provider, name);
    if (local) return local;
    return getAgent(eid, provider, name);
  }

 private:
  // The access object is let go before any factory runs.
  static bool servedHere(JRXAccessProviderPrototype& provider, const JRXEID& eid) {
    intrusive_ptr<JRXAccessPrototype> access = provider.getAccess();
    return !access || access->isLocal(eid);
  }

  std::map<std::string, boost::shared_ptr<LocalFactory>> local_;
  std::map<std::string, boost::shared_ptr<AgentFactory>> agent_;
  std::map<std::string, std::string> agentNames_;
};

}  // namespace JRX

JRX_PUBLIC_END
