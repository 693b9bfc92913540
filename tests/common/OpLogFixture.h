// A fresh operation-log database per test, on every backend, opened through the
// fault-injecting driver so that a test can make any statement fail.
#pragma once

#include "LogDbFixture.h"
#include "OpLogRows.h"

namespace jrxtest {

class OpLogFixture : public LogDbFixture {
 protected:
  void SetUp() override { openLogDb(true, localEid); }

  const JRX::JRXEID localEid{0x1111, 0x0001};
  std::shared_ptr<JRX::JRXCapturingLogSink>& log = sink;
};

}  // namespace jrxtest
