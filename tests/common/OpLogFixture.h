// A fresh operation-log database per test, on every backend, opened through the
// fault-injecting driver so that a test can make any statement fail.
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
#include "OpLogRows.h"
#include "TestDb.h"

namespace jrxtest {

class OpLogFixture : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    ASFaults::Clear();
    JRX::JRXDatabase::open("fault:" + freshDatabaseUrl(GetParam()));
    JRX::JRXConfiguration::setLocalEID(localEid);
    JRX::createLogTables();
    JRX::JRXAccessChecker::setClientContext(nullptr);
    log = std::make_shared<JRX::JRXCapturingLogSink>();
    previousSink = JRX::setLogSink(log);
  }

  void TearDown() override {
    ASFaults::Clear();
    JRX::setLogSink(previousSink);
    JRX::JRXAccessChecker::setClientContext(nullptr);
    JRX::JRXDatabase::close();
  }

  // The client of this thread holds exactly the rights of `rights` from now on.
  void actAs(std::shared_ptr<JRX::JRXRightsTable> rights) {
    checker.reset(new JRX::JRXAccessChecker(rights));
    JRX::JRXAccessChecker::setClientContext(checker.get());
  }

  const JRX::JRXEID localEid{0x1111, 0x0001};
  std::shared_ptr<JRX::JRXCapturingLogSink> log;

 private:
  std::shared_ptr<JRX::JRXLogSink> previousSink;
  std::unique_ptr<JRX::JRXAccessChecker> checker;
};

}  // namespace jrxtest
