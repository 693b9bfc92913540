// One HTTP request to `jrxlog serve`, as the bytes a client sends, through the server's own
// request reading, safety checks, routes and handlers, on a small log in memory, without a
// socket. Every answer is a status the server means to give; nothing crashes or hangs.
#include <httplib.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "JRXLogDBLocal.h"
#include "JsonRecords.h"
#include "ServeApi.h"
#include "ServePage.h"
#include "ServeSafety.h"
#include "Services.h"

namespace {

// The request's bytes in, the answer's bytes counted and dropped.
class MemoryStream : public httplib::Stream {
 public:
  MemoryStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool is_readable() const override { return true; }
  bool is_writable() const override { return true; }
  ssize_t read(char* ptr, size_t size) override {
    size_t n = std::min(size, size_ - at_);
    std::memcpy(ptr, data_ + at_, n);
    at_ += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char*, size_t size) override {
    written_ += size;
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = "127.0.0.1";
    port = 40000;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = "127.0.0.1";
    port = 8080;
  }
  socket_t socket() const override { return INVALID_SOCKET; }

 private:
  const uint8_t* data_;
  size_t size_, at_ = 0, written_ = 0;
};

class Server : public httplib::Server {
 public:
  using httplib::Server::process_request;
};

const char* const kLog[] = {
    R"({"kind":"env","eid":"11111111-1111-4111-8111-111111111111","type":"vm","title":"web-1"})",
    R"({"kind":"progress","id":"req-1","name":"vm.start","progress":10,"time":1701000000,"operands":["11111111-1111-4111-8111-111111111111"],"info":{"text":"Starting {vm}","params":{"vm":"<b>web-1</b>"}}})",
    R"({"kind":"progress","id":"req-1","status":3,"progress":100,"time":1701000020,"info":{"text":"Started"}})",
    R"({"kind":"event","guid":"3f1e0d2c-0000-4000-8000-000000000001","time":1701000001,"category":"vm","type":"audit","info":{"text":"login","params":{"source_env":{"params":{"eid":"d3377d3c-a0d1-5d71-9947-f17125c357bb","type":"node","title":"host-1"}}}},"audit":{"session":"s-9","address":"2001:db8::1","detail":"login","kind":0}})",
};

Server* makeServer() {
  jrxlog::GlobalOptions options;
  options.db = "sqlite::memory:";
  jrxlog::openLog(options);
  JRX::JRXOpLogLocal ops(jrxlog::accessProvider());
  JRX::JRXEventLogLocal events(jrxlog::accessProvider());
  for (const char* line : kLog) {
    jrxlog::Record r = jrxlog::parseRecord(line, 1701000000);
    if (r.kind == jrxlog::Record::PROGRESS) ops.saveProgress(r.progress);
    if (r.kind == jrxlog::Record::EVENT) events.saveEvent(r.event);
  }
  auto* server = new Server;
  jrxlog::ServeSafety safety;
  safety.token = "s3cret";
  jrxlog::applySafety(*server, safety);
  jrxlog::addApiRoutes(*server);
  jrxlog::addPageRoutes(*server);
  return server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Server* server = makeServer();
  MemoryStream stream(data, size);
  bool closed = false;
  server->process_request(stream, true, closed, [](httplib::Request&) {});
  return 0;
}
