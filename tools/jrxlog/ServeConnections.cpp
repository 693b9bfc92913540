#include "ServeConnections.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace jrxlog {

namespace {

using Clock = std::chrono::steady_clock;

thread_local Clock::time_point tRequestBegan{};

// A connection's socket, read through a buffer (the library reads header lines byte by
// byte), where every wait ends at the deadline of the request or response at hand.
class DeadlineStream : public httplib::Stream {
 public:
  DeadlineStream(int sock, const ConnectionLimits& limits)
      : sock_(sock), limits_(limits), buffer_(4096) {}

  // Until the next request begins, or false when none comes within the idle time.
  bool awaitRequest() {
    if (next_ < end_) return true;
    return wait(POLLIN, Clock::now() + limits_.idle);
  }
  // The request that begins now must be read whole by its deadline; its response may take
  // the response time once the handler starts writing it.
  void beginRequest() {
    readBy_ = Clock::now() + limits_.request;
    writing_ = false;
  }

  bool is_readable() const override { return next_ < end_ || wait(POLLIN, readBy_); }
  bool is_writable() const override { return wait(POLLOUT, writeBy()); }

  ssize_t read(char* ptr, size_t size) override {
    if (next_ == end_) {
      if (!wait(POLLIN, readBy_)) return fail();
      ssize_t n;
      do {
        n = ::recv(sock_, buffer_.data(), buffer_.size(), 0);
      } while (n < 0 && errno == EINTR);
      if (n <= 0) return n;
      next_ = 0;
      end_ = static_cast<size_t>(n);
    }
    const size_t n = std::min(size, end_ - next_);
    std::copy(buffer_.begin() + static_cast<long>(next_),
              buffer_.begin() + static_cast<long>(next_ + n), ptr);
    next_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!writing_) {
      writeBy_ = Clock::now() + limits_.response;
      writing_ = true;
    }
    if (!wait(POLLOUT, writeBy_)) return fail();
    ssize_t n;
    do {
      n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    address(::getpeername, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    address(::getsockname, ip, port);
  }
  socket_t socket() const override { return sock_; }

  // A request or response ran out of time: the library may still answer it (400), but the
  // connection is not kept for another one.
  bool failed() const { return failed_; }

 private:
  ssize_t fail() {
    failed_ = true;
    return -1;
  }

  Clock::time_point writeBy() const {
    return writing_ ? writeBy_ : Clock::now() + limits_.response;
  }

  bool wait(short event, Clock::time_point by) const {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(by - Clock::now());
      if (left.count() <= 0) return false;
      pollfd p{sock_, event, 0};
      const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
      if (n > 0) return (p.revents & (event | POLLHUP | POLLERR)) != 0;
      if (n < 0 && errno != EINTR) return false;
    }
  }

  template <typename Name>
  void address(Name name, std::string& ip, int& port) const {
    sockaddr_storage a{};
    socklen_t length = sizeof a;
    ip.clear();
    port = 0;
    if (name(sock_, reinterpret_cast<sockaddr*>(&a), &length) != 0) return;
    char text[INET6_ADDRSTRLEN] = "";
    if (a.ss_family == AF_INET) {
      const auto* v4 = reinterpret_cast<const sockaddr_in*>(&a);
      inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
      port = ntohs(v4->sin_port);
    } else if (a.ss_family == AF_INET6) {
      const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&a);
      inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
      port = ntohs(v6->sin6_port);
    }
    ip = text;
  }

  int sock_;
  const ConnectionLimits& limits_;
  std::vector<char> buffer_;
  size_t next_ = 0, end_ = 0;
  Clock::time_point readBy_ = Clock::now();
  Clock::time_point writeBy_ = Clock::now();
  bool writing_ = false;
  bool failed_ = false;
};

}  // namespace

Clock::time_point requestBegan() { return tRequestBegan; }

BoundedServer::BoundedServer(const ConnectionLimits& limits) : limits_(limits) {
  const size_t workers = limits_.workers;
  new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
}

bool BoundedServer::serve() {
  if (svr_sock_ != INVALID_SOCKET) ::listen(svr_sock_, SOMAXCONN);
  return listen_after_bind();
}

bool BoundedServer::process_and_close_socket(socket_t sock) {
  DeadlineStream stream(sock, limits_);
  bool ok = false;
  for (size_t served = 0; served < limits_.requestsPerConnection; ++served) {
    if (svr_sock_ == INVALID_SOCKET || !stream.awaitRequest()) break;
    stream.beginRequest();
    tRequestBegan = Clock::now();
    bool closed = false;
    ++answering_;
    ok = process_request(stream, served + 1 == limits_.requestsPerConnection, closed, nullptr);
    if (afterRequest) afterRequest();
    // Each worker thread allocates from an arena of its own, and the allocator keeps what a
    // burst of answers freed there: once none is being answered, it goes back to the system.
    if (--answering_ == 0) malloc_trim(0);
    if (!ok || closed || stream.failed()) break;
  }
  tRequestBegan = Clock::time_point{};
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ok;
}

}  // namespace jrxlog
