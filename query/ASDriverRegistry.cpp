#include <map>
#include <mutex>

#include "ASDriver.h"

namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, ASDriverFactory> factories;
};

// Built on first use: drivers register from static initialisers of other files.
Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

ASDriverRegistration::ASDriverRegistration(const char* scheme, ASDriverFactory factory) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.factories[scheme] = factory;
}

std::unique_ptr<ASDriverConnection> ASOpenConnection(const std::string& url,
                                                     unsigned long instance) {
  auto colon = url.find(':');
  if (colon == std::string::npos || colon == 0)
    throw AException("database URL '" + url + "' has no scheme (sqlite:PATH or mysql://...)");
  std::string scheme = url.substr(0, colon);
  ASDriverFactory factory = nullptr;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.factories.find(scheme);
    if (it != r.factories.end()) factory = it->second;
  }
  if (!factory)
    throw AException("database URL '" + url + "' has an unknown scheme '" + scheme +
                     "' (use sqlite:, mysql:// or fault:)");
  return factory(url, instance);
}
