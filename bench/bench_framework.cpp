// Costs of the framework's serialisers, against copying the same record as the baseline; the
// ratio lines at the end give each round trip's rate as a fraction of the copy's.
#include <benchmark/benchmark.h>

#include <boost/make_shared.hpp>
#include <cstdio>
#include <cstdlib>

#include "JRXMessage.h"
#include "RatioReporter.h"

using namespace JRX;
using opbench::countRate;

namespace {

JRXInfo typicalInfo() {
  JRXInfo info("Operation {op} on {env}");
  info.addParameter("op", "vm.start");
  for (int i = 0; i < 3; ++i) {
    JRXInfo& env = info.addParameter("env", JRXInfo("web-" + std::to_string(i)));
    env.addParameter("eid", JRXGUID::generate().toString());
    env.addParameter("type", "vm");
    env.addParameter("title", "web-" + std::to_string(i));
  }
  info.addParameter("task_id", "task-17");
  return info;
}

JRXEvent typicalEvent() {
  JRXEvent e("agent");
  e.eid = JRXGUID::generate();
  e.time = 1701000000;
  e.type = "audit";
  e.guid = JRXGUID::generate();
  e.info = typicalInfo();
  auto audit = boost::make_shared<JRXAuditEvent>();
  audit->session = "s-1";
  audit->detail = "login";
  e.data = audit;
  return e;
}

void BM_InfoCopy(benchmark::State& state) {
  JRXInfo info = typicalInfo();
  for (auto _ : state) {
    JRXInfo copy = info;
    benchmark::DoNotOptimize(copy);
  }
  countRate(state, "records/s");
}
BENCHMARK(BM_InfoCopy);

void BM_InfoJsonRoundTrip(benchmark::State& state) {
  JRXInfo info = typicalInfo();
  std::string text;
  for (auto _ : state) {
    info.serializeToString(text);
    JRXInfo back;
    back.deserializeFromString(text.c_str());
    benchmark::DoNotOptimize(back);
  }
  countRate(state, "records/s");
}
BENCHMARK(BM_InfoJsonRoundTrip);

void BM_EventMessageRoundTrip(benchmark::State& state) {
  JRXEvent event = typicalEvent();
  for (auto _ : state) {
    JRXMessage m;
    m.setName("packet");
    m.getIterator()->putObj(event, 1612);
    char* buf = nullptr;
    uint32_t len = 0;
    m.serialize(&buf, &len, 0, 40500);
    JRXMessage back;
    back.load(buf, len, 0);
    std::free(buf);
    JRXEvent e;
    back.getIterator()->getObj(e, 1612);
    benchmark::DoNotOptimize(e);
  }
  countRate(state, "records/s");
}
BENCHMARK(BM_EventMessageRoundTrip);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  opbench::RatioReporter reporter("records/s");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nround trip rate / copy rate:\n");
  for (const char* name : {"BM_InfoJsonRoundTrip", "BM_EventMessageRoundTrip"}) {
    double rate = 0, copy = 0;
    if (reporter.both(name, "BM_InfoCopy", rate, copy))
      std::printf("  %-26s %12.0f vs %12.0f records/s  ratio %.4f\n", name, rate, copy, rate / copy);
  }
  benchmark::Shutdown();
  return 0;
}
