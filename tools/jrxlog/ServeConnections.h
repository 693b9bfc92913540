// How `jrxlog serve` spends its workers on connections. The HTTP library gives a connection a
// worker from its first byte to its close and only bounds each single wait for data, so a
// client that sends a byte now and then keeps a worker for as long as it likes, and a few
// such clients starve everybody else. Here every request must arrive whole within a time of
// its own, an idle connection is closed, a response that the client does not take in time is
// dropped, and there are many more workers than any honest use needs.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>

namespace jrxlog {

struct ConnectionLimits {
  std::chrono::milliseconds request{10000};  // from a request's first byte to its last
  std::chrono::milliseconds idle{5000};      // between the requests of one connection
  std::chrono::milliseconds response{60000}; // to take in one response
  size_t workers = 64;
  size_t requestsPerConnection = 100;
};

// When the request this thread is serving began: its first byte was there to read. The
// epoch when the thread serves none (a request handed to the library otherwise).
std::chrono::steady_clock::time_point requestBegan();

class BoundedServer : public httplib::Server {
 public:
  explicit BoundedServer(const ConnectionLimits& limits);
  // listen_after_bind() with a queue for a burst of connections: the library's own holds
  // five, and a client beyond them waits a second or more before the kernel retries it.
  bool serve();

  // Run on a worker's thread after each request it answered (whole, or given up on).
  std::function<void()> afterRequest;

 private:
  bool process_and_close_socket(socket_t sock) override;

  ConnectionLimits limits_;
  std::atomic<int> answering_{0};  // requests being answered now
};

}  // namespace jrxlog
