// A fresh log database per test, on every backend: the log tables, the local node, no client
// rights set and the log records captured. Opened through the fault-injecting driver when a
// test needs to make statements fail.
// Header only: it needs the plug-in, which the common library does not link.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ASFaults.h"
#include "JRXLog.h"
#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "JRXRequest.h"
#include "TestDb.h"

namespace jrxtest {

class LogDbFixture : public ::testing::TestWithParam<std::string> {
 protected:
  // The widest record limit and upper time bound the query calls take.
  static constexpr unsigned int kNoLimit = 2147483647;
  static constexpr long kNoUpper = 2147483647;

  // `local`, when valid, becomes the local node.
  void openLogDb(bool throughFaults, const JRX::JRXEID& local = JRX::JRXEID()) {
    ASFaults::Clear();
    const std::string url = freshDatabaseUrl(GetParam());
    JRX::JRXDatabase::open(throughFaults ? "fault:" + url : url);
    if (local.isValid()) JRX::JRXConfiguration::setLocalEID(local);
    JRX::createLogTables();
    JRX::JRXAccessChecker::setClientContext(nullptr);
    sink = std::make_shared<JRX::JRXCapturingLogSink>();
    previousSink = JRX::setLogSink(sink);
  }

  void TearDown() override {
    ASFaults::Clear();
    if (sink) JRX::setLogSink(previousSink);
    JRX::JRXAccessChecker::setClientContext(nullptr);
    JRX::JRXDatabase::close();
  }

  // The client of this thread holds exactly the rights of `rights` from now on.
  void actAs(std::shared_ptr<JRX::JRXRightsTable> rights) {
    checker.reset(new JRX::JRXAccessChecker(rights));
    JRX::JRXAccessChecker::setClientContext(checker.get());
  }

  std::shared_ptr<JRX::JRXCapturingLogSink> sink;

 private:
  std::shared_ptr<JRX::JRXLogSink> previousSink;
  std::unique_ptr<JRX::JRXAccessChecker> checker;
};

}  // namespace jrxtest
