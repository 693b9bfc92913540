// jrxlog serve: the web view and its JSON API, read-only, until interrupted.
#include <httplib.h>
#include <malloc.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>

#include "Commands.h"
#include "JRXRdbms.h"
#include "ServeApi.h"
#include "ServeConnections.h"
#include "ServeMetrics.h"
#include "ServePage.h"
#include "ServeSafety.h"

namespace jrxlog {

namespace {

const char* const kDefaultListen = "127.0.0.1:8080";

std::string urlOf(const ListenAddress& a, int port) {
  std::string host = a.host.find(':') != std::string::npos ? "[" + a.host + "]" : a.host;
  return "http://" + host + ":" + std::to_string(port) + "/";
}

struct ServeOptions {
  std::string listen = kDefaultListen;
  std::string tokenFile;
  double requestTimeout =
      std::chrono::duration<double>(ConnectionLimits().request).count();
};

// The port the server now listens on (a free one for port 0); throws when it cannot.
int bindPort(BoundedServer& server, const ListenAddress& address, const std::string& listen) {
  int port = address.port;
  if (port == 0) {
    port = server.bind_to_any_port(address.host);
    if (port < 0) port = 0;
  } else if (!server.bind_to_port(address.host, port)) {
    port = 0;
  }
  if (port == 0) throw std::runtime_error("cannot listen on " + listen);
  return port;
}

// Serves until SIGINT, SIGTERM or SIGHUP. The signals are taken by one thread of ours, never
// by the server's workers (so not through StopSignals' handlers), so that an interrupt stops
// the server in an orderly way. Blocked before any worker starts: threads inherit the mask
// of the one that makes them.
class ServeUntilSignal {
 public:
  ServeUntilSignal() {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    sigaddset(&signals_, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
  }
  ~ServeUntilSignal() { pthread_sigmask(SIG_UNBLOCK, &signals_, nullptr); }

  bool serve(BoundedServer& server) {
    std::atomic<bool> done{false};
    // A signal that comes before the server runs would be lost on it, so stop is repeated
    // until the server has returned.
    std::thread stopper([&] {
      timespec wait{0, 200 * 1000 * 1000};
      bool stopping = false;
      while (!done) {
        if (!stopping && sigtimedwait(&signals_, nullptr, &wait) > 0) stopping = true;
        if (stopping) {
          server.stop();
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
      }
    });
    const bool ok = server.serve();
    done = true;
    stopper.join();
    return ok;
  }

 private:
  sigset_t signals_;
};

int runServe(const ServeOptions& o) {
  ListenAddress address = parseListen(o.listen);
  ServeSafety safety;
  safety.loopback = isLoopbackHost(address.host);
  if (!o.tokenFile.empty()) safety.token = readToken(o.tokenFile);
  if (!safety.loopback && safety.token.empty())
    std::cerr << "jrxlog serve: warning: listening beyond this host without --token-file; "
                 "anyone who reaches "
              << address.host << " can read the log\n";

  ServeUntilSignal stop;
  signal(SIGPIPE, SIG_IGN);
  ConnectionLimits limits;
  limits.request = std::chrono::milliseconds(static_cast<long long>(o.requestTimeout * 1000));
  // Outlives the server, whose logger reports to it.
  ServeMetrics metrics;
  // Workers that each allocate from an arena of their own leave each arena's freed pages
  // scattered; a few shared arenas keep a burst's peak near what the answers hold.
  mallopt(M_ARENA_MAX, 4);
  BoundedServer server(limits);
  // A worker's connection keeps the pages it read (SQLite's cache is per connection), so a
  // burst of answers would leave every worker holding its share for good: each request gives
  // them back, and keeps its connection and statements for the next.
  server.afterRequest = [] {
    if (JRX::JRXDatabase::isOpen()) JRX::JRXDatabase::get()->ReleaseSessionMemory();
  };
  // Small answers would otherwise wait for the client's delayed acknowledgement.
  server.set_tcp_nodelay(true);
  applySafety(server, safety);
  addApiRoutes(server);
  addMetricsRoute(server, metrics);
  addPageRoutes(server);
  // The cause of a failure is written where it happens; the answer only says that it failed.
  server.set_logger([&metrics](const httplib::Request& req, const httplib::Response& res) {
    metrics.observe(req, res);
    if (res.status >= 500) std::cerr << req.method << ' ' << req.path << ": " << res.status << '\n';
  });

  const int port = bindPort(server, address, o.listen);
  std::cout << "jrxlog serve: " << urlOf(address, port)
            << (safety.token.empty() ? "" : "?token=...") << std::endl;
  if (!stop.serve(server)) throw std::runtime_error("the server stopped on an error");
  return 0;
}

}  // namespace

void addServe(CommandLine& cl) {
  auto o = std::make_shared<ServeOptions>();
  CLI::App* c = addCommand(cl, "serve",
                           "read-only web view and JSON API of the listings, until Ctrl-C", o,
                           runServe);
  c->add_option("--listen", o->listen, "where to listen")
      ->type_name("ADDR:PORT")->check(listenValue())->capture_default_str();
  c->add_option("--token-file", o->tokenFile,
                "every request then needs \"Authorization: Bearer TOKEN\" (or open the page "
                "once as /?token=TOKEN)")
      ->type_name("FILE")->check(tokenFileValue());
  c->add_option("--request-timeout", o->requestTimeout,
                "seconds a client has to send a whole request; a slower one is disconnected")
      ->type_name("S")->check(intervalValue())->capture_default_str();
}

}  // namespace jrxlog
