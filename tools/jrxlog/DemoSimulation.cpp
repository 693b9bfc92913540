// The demo's simulated agent: nodes and VMs, operations that report progress, some failing,
// some left running, with the events and audit records that go with them.
#include "DemoSimulation.h"

#include <algorithm>
#include <map>

#include "ASHex.h"
#include "Services.h"

namespace jrxlog {

namespace {

uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// Version 4, variant 1, like the framework's own random GUIDs.
JRX::JRXGUID version4(uint64_t a, uint64_t b) {
  return JRX::JRXGUID(static_cast<long long>((a & ~0xF000ULL) | 0x4000ULL),
                      static_cast<long long>((b & ~(3ULL << 62)) | (2ULL << 62)));
}

// Our own generator, so that a seed gives the same log with every standard library.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(mix(seed)) {}
  uint64_t next() { return mix(state_++); }
  int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
  bool chance(int percent) { return below(100) < percent; }
  JRX::JRXGUID guid() {
    const uint64_t a = next();
    return version4(a, next());
  }

 private:
  uint64_t state_;
};

std::string hex(uint64_t v, int digits) { return ASHexNumber(v, digits); }

using Env = DemoEnv;

JRX::JRXInfo envRef(const Env& e) {
  JRX::JRXInfo r;
  r.addParameter("eid", e.eid.toString());
  r.addParameter("type", e.type);
  r.addParameter("title", e.title);
  return r;
}

boost::shared_ptr<JRX::JRXAuditEvent> audit(const std::string& session, const char* address,
                                            const std::string& detail, int kind) {
  boost::shared_ptr<JRX::JRXAuditEvent> a(new JRX::JRXAuditEvent());
  a->session = session;
  a->address.fromString(address);
  a->detail = detail;
  a->kind = kind;
  return a;
}

struct User {
  std::string name;
  std::string session;
  JRX::JRXSID sid;
  std::string address;
};

struct Kind {
  const char* name;
  std::vector<const char*> steps;
  const char* done;
  const char* fail;
  bool onVm;
  bool toNode;      // a second node takes part (migration)
  int statusFrom;   // power states for the env_status event when it succeeds; -1: none
  int statusTo;
  const char* verb;
};

const std::vector<Kind>& kinds() {
  static const std::vector<Kind> k = {
      {"vm.create",
       {"Allocating resources on {node}", "Creating disk for {vm}", "Installing image",
        "Booting {vm}"},
       "VM {vm} created", "Not enough memory on {node}", true, false, 0, 1, "POST"},
      {"vm.start", {"Starting {vm}", "Waiting for the guest agent of {vm}"}, "VM {vm} is running",
       "The guest agent of {vm} did not answer", true, false, 4, 1, "POST"},
      {"vm.stop", {"Stopping {vm}"}, "VM {vm} stopped", "VM {vm} refused to shut down", true,
       false, 1, 4, "POST"},
      {"vm.migrate", {"Copying memory of {vm} to {target}", "Switching {vm} over"},
       "VM {vm} moved to {target}", "Lost the network to {target}", true, true, -1, -1, "POST"},
      {"vm.backup", {"Creating a snapshot of {vm}", "Copying the snapshot", "Removing the snapshot"},
       "Backup of {vm} complete", "Backup storage is full", true, false, -1, -1, "POST"},
      {"node.update", {"Downloading packages on {node}", "Installing packages on {node}"},
       "{node} updated", "Package conflict on {node}", false, false, -1, -1, "PUT"},
  };
  return k;
}

class Simulation {
 public:
  Simulation(uint64_t seed, int size, int64_t now)
      : rng_(seed), size_(size), now_(now), runKey_(mix(seed ^ mix(static_cast<uint64_t>(now)))) {}

  DemoPlan build() {
    makeEnvironments();
    makeUsers();
    int64_t span = std::max<int64_t>(3600, static_cast<int64_t>(size_) * 90);
    int64_t start = now_ - span;
    for (int k = 0; k < size_; ++k) {
      int64_t begin = start + span * k / size_ + rng_.below(60);
      bool running = k >= size_ - std::max(1, size_ / 8);
      makeOperation(k, begin, running);
    }
    for (const auto& node : plan_.nodes)
      for (int64_t t = start + rng_.below(300); t < now_; t += 900 + rng_.below(300))
        heartbeat(node, t);
    intruder(start + rng_.below(static_cast<int>(span)));
    viewerSession(start + rng_.below(static_cast<int>(span / 2)));
    std::stable_sort(plan_.steps.begin(), plan_.steps.end(),
                     [](const DemoStep& a, const DemoStep& b) {
                       return a.time != b.time ? a.time < b.time : a.seq < b.seq;
                     });
    plan_.succeeded = size_ - plan_.failed - plan_.running;
    return std::move(plan_);
  }

 private:
  void makeEnvironments() {
    static const char* roles[] = {"web", "db", "cache", "build", "mail", "proxy", "queue", "search"};
    int nodeCount = std::max(2, std::min(6, size_ / 10 + 2));
    for (int i = 0; i < nodeCount; ++i)
      plan_.nodes.push_back({rng_.guid(), "node", "node-" + std::to_string(i + 1)});
    int vmCount = std::max(3, std::min(40, size_ / 2 + 2));
    std::map<std::string, int> used;
    for (int i = 0; i < vmCount; ++i) {
      std::string role = roles[rng_.below(8)];
      plan_.vms.push_back({rng_.guid(), "vm", role + "-" + std::to_string(++used[role])});
      vmNode_.push_back(static_cast<size_t>(rng_.below(nodeCount)));
    }
  }

  void makeUsers() {
    const char* names[] = {"alice", "bob", "deploy-bot"};
    const char* addresses[] = {"2001:db8::a1", "2001:db8::b0b", "192.0.2.10"};
    for (int i = 0; i < 3; ++i) {
      std::vector<unsigned char> sid(16);
      for (auto& b : sid) b = static_cast<unsigned char>(rng_.below(256));
      users_.push_back({names[i], std::string("sess-") + names[i] + "-" + hex(runKey_, 8),
                        JRX::JRXSID(sid), addresses[i]});
    }
  }

  std::string opId(int k) { return "req-" + hex(runKey_, 12) + "-" + hex(static_cast<uint64_t>(k), 4); }

  JRX::JRXGUID eventGuid() {
    const uint64_t n = ++events_, a = mix(runKey_ ^ (n * 0x100000001B3ULL));
    return version4(a, mix(a ^ n));
  }

  void add(DemoStep s) {
    s.seq = plan_.steps.size();
    plan_.steps.push_back(std::move(s));
  }

  void report(JRX::JRXRequestProgressData r, int64_t time, int status, int progress,
              const JRX::JRXInfo& info) {
    r.time = time;
    r.status = status;
    r.progress = progress;
    r.info = info;
    add({time, 0, false, std::move(r), {}});
  }

  JRX::JRXEvent event(int64_t time, const std::string& category, const std::string& type,
                      int code, const JRX::JRXInfo& info) {
    JRX::JRXEvent e(category);
    e.time = time;
    e.type = type;
    e.code = code;
    e.guid = eventGuid();
    e.info = info;
    return e;
  }

  void addEvent(JRX::JRXEvent e) {
    const int64_t time = e.time;
    add({time, 0, true, JRX::JRXRequestProgressData(), std::move(e)});
  }

  int pick(size_t n) { return rng_.below(static_cast<int>(n)); }

  // Who does what to which environments in one operation.
  struct Cast {
    const Kind* kind;
    size_t vmIndex;
    const Env* vm;
    const Env* node;
    const Env* target;
    const User* user;
  };

  Cast cast() {
    const std::vector<Env>& nodes = plan_.nodes;
    Cast c{&kinds()[static_cast<size_t>(pick(kinds().size()))], 0, nullptr, nullptr, nullptr, nullptr};
    c.vmIndex = static_cast<size_t>(pick(plan_.vms.size()));
    c.vm = &plan_.vms[c.vmIndex];
    c.node = c.kind->onVm ? &nodes[vmNode_[c.vmIndex]] : &nodes[static_cast<size_t>(pick(nodes.size()))];
    if (c.kind->toNode) {
      c.target = &nodes[static_cast<size_t>(pick(nodes.size()))];
      if (c.target->eid == c.node->eid) c.target = &nodes[(vmNode_[c.vmIndex] + 1) % nodes.size()];
    }
    c.user = &users_[static_cast<size_t>(pick(users_.size()))];
    return c;
  }

  JRX::JRXRequestProgressData operation(int k, const Cast& c) {
    JRX::JRXRequestProgressData base(opId(k));
    base.name = c.kind->name;
    base.sessionId = JRX::JRXSessionID(c.user->session);
    base.eid = c.node->eid;
    if (c.kind->onVm) base.operands.insert(c.vm->eid);
    if (c.target) base.operands.insert(c.target->eid);
    if (!c.kind->onVm) base.operands.insert(c.node->eid);
    return base;
  }

  JRX::JRXInfo reportInfo(int k, const Cast& c, const std::string& text) {
    // A node update is run by the agent on the local node for the node it updates.
    JRX::JRXInfo i(text);
    i.addParameter("source_env", c.kind->onVm ? envRef(*c.node)
                                              : JRX::JRXEnvInfo(JRX::JRXConfiguration::getLocalEID()));
    if (c.kind->onVm) i.addParameter("env", envRef(*c.vm));
    if (c.target) i.addParameter("env", envRef(*c.target));
    i.addParameter("node", c.node->title);
    i.addParameter("vm", c.vm->title);
    if (c.target) i.addParameter("target", c.target->title);
    i.addParameter("task_id", "task-" + hex(runKey_, 6) + "-" + std::to_string(k));
    return i;
  }

  // Who asked for it: an audit record of the request.
  void requestAudit(const Cast& c, int64_t begin) {
    const Kind& kind = *c.kind;
    const std::string subject = kind.onVm ? c.vm->title : c.node->title;
    JRX::JRXInfo req("{user} asked for {op} of {subject}");
    req.addParameter("source_env", envRef(*c.node));
    if (kind.onVm) req.addParameter("env", envRef(*c.vm));
    req.addParameter("user", c.user->name);
    req.addParameter("op", kind.name);
    req.addParameter("subject", subject);
    req.addParameter("id", kind.onVm ? c.vm->eid.toString() : c.node->eid.toString());
    req.addParameter("type", kind.onVm ? "vm" : "node");
    JRX::JRXEvent e = event(begin, "api", "audit", 200, req);
    e.sid = c.user->sid;
    const std::string name = kind.name;
    e.data = audit(c.user->session, c.user->address.c_str(),
                   std::string(kind.verb) + " /api/" + (kind.onVm ? "vms/" : "nodes/") + subject +
                       "/" + name.substr(name.find('.') + 1) + " -> 200",
                   0);
    addEvent(e);
  }

  // The reports of the steps, up to a random one for an operation left running; `t` and
  // `progress` are where they stopped.
  void reportSteps(int k, const Cast& c, const JRX::JRXRequestProgressData& base, bool running,
                   int64_t& t, int& progress) {
    report(base, t, 1, 0, reportInfo(k, c, "Queued"));
    const auto& steps = c.kind->steps;
    size_t n = steps.size();
    size_t stopAt = running ? static_cast<size_t>(rng_.below(static_cast<int>(n))) : n;
    for (size_t i = 0; i < n && i <= stopAt; ++i) {
      progress = static_cast<int>((i + 1) * 90 / (n + 1));
      t += 3 + rng_.below(40);
      report(base, t, 0, progress, reportInfo(k, c, steps[i]));
      // Long steps report again with the same text; the log folds those.
      if (rng_.chance(40)) {
        progress += 5;
        t += 5 + rng_.below(30);
        report(base, t, 0, progress, reportInfo(k, c, steps[i]));
      }
      if (running && i == stopAt) break;
    }
  }

  void failure(int k, const Cast& c, const JRX::JRXRequestProgressData& base, int64_t t,
               int progress) {
    const Kind& kind = *c.kind;
    report(base, t, 5, progress, reportInfo(k, c, kind.fail));
    JRX::JRXInfo alert(std::string(kind.name) + " failed: " + kind.fail);
    alert.addParameter("source_env", envRef(*c.node));
    if (kind.onVm) alert.addParameter("env", envRef(*c.vm));
    alert.addParameter("node", c.node->title);
    alert.addParameter("vm", c.vm->title);
    if (c.target) alert.addParameter("target", c.target->title);
    alert.addParameter("id", kind.onVm ? c.vm->eid.toString() : c.node->eid.toString());
    alert.addParameter("type", kind.onVm ? "vm" : "node");
    addEvent(event(t, kind.onVm ? "vm" : "node", "alert", 2, alert));
  }

  void success(int k, const Cast& c, const JRX::JRXRequestProgressData& base, int64_t t) {
    const Kind& kind = *c.kind;
    report(base, t, 3, 100, reportInfo(k, c, kind.done));
    if (kind.statusFrom < 0) return;
    JRX::JRXInfo change("{vm} changed its state");
    change.addParameter("source_env", envRef(*c.node));
    change.addParameter("env", envRef(*c.vm));
    change.addParameter("vm", c.vm->title);
    change.addParameter("old_status", std::to_string(kind.statusFrom));
    change.addParameter("new_status", std::to_string(kind.statusTo));
    change.addParameter("old_transition", "0");
    change.addParameter("new_transition", "0");
    addEvent(event(t, "vm", "env_status", 0, change));
  }

  void makeOperation(int k, int64_t begin, bool running) {
    const Cast c = cast();
    const bool fails = !running && rng_.chance(15);
    const JRX::JRXRequestProgressData base = operation(k, c);
    requestAudit(c, begin);
    int64_t t = begin + 1;
    int progress = 0;
    reportSteps(k, c, base, running, t, progress);
    if (running) {
      ++plan_.running;
      return;
    }
    t += 2 + rng_.below(20);
    if (fails) {
      ++plan_.failed;
      failure(k, c, base, t, progress);
    } else {
      success(k, c, base, t);
    }
  }

  void heartbeat(const Env& node, int64_t t) {
    JRX::JRXInfo i("{node} is alive, load {load}");
    i.addParameter("source_env", envRef(node));
    i.addParameter("node", node.title);
    i.addParameter("load", std::to_string(rng_.below(400) / 100.0).substr(0, 4));
    addEvent(event(t, "node", "info", 0, i));
  }

  // A failed login: the audit rules drop it.
  void intruder(int64_t t) {
    JRX::JRXInfo i("Login of {user} failed");
    i.addParameter("source_env", envRef(plan_.nodes[0]));
    i.addParameter("user", "mallory");
    JRX::JRXEvent e = event(t, "api", "audit", 401, i);
    e.data = audit("sess-mallory-" + hex(runKey_, 8), "198.51.100.7", "POST /api/login -> 401", 4);
    addEvent(e);
  }

  // Somebody who only looks around and logs out: a session without operations, whose audit
  // records the rules drop when it ends.
  void viewerSession(int64_t t) {
    std::string session = "sess-viewer-" + hex(runKey_, 8);
    const char* pages[] = {"GET /api/vms -> 200", "GET /api/nodes -> 200", "GET /api/events -> 200"};
    for (int i = 0; i < 4; ++i) {
      JRX::JRXInfo info(i < 3 ? "{user} looked at {page}" : "{user} logged out");
      info.addParameter("source_env", envRef(plan_.nodes[0]));
      info.addParameter("user", "viewer");
      info.addParameter("page", i < 3 ? pages[i] : "");
      JRX::JRXEvent e = event(t + 20 * i, "api", "audit", 200, info);
      e.data = audit(session, "2001:db8::5ee", i < 3 ? pages[i] : "POST /api/logout -> 200",
                     i < 3 ? 0 : 2);
      addEvent(e);
    }
  }

  Rng rng_;
  int size_;
  int64_t now_;
  uint64_t runKey_;
  uint64_t events_ = 0;
  std::vector<size_t> vmNode_;
  std::vector<User> users_;
  DemoPlan plan_;
};

}  // namespace

DemoPlan planDemo(const DemoOptions& o) { return Simulation(o.seed, o.size, o.now).build(); }

}  // namespace jrxlog
