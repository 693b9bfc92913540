// Test fixture for jrxlog end to end: one fresh database per test, on each backend.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "TestDb.h"
#include "ToolRunner.h"

namespace jrxtest {

// Identifiers used by the tool tests.
extern const char* const kLocal;
extern const char* const kNode;
extern const char* const kVm1;
extern const char* const kVm2;

class ToolDb : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { url_ = freshDatabaseUrl(GetParam()); }

  // jrxlog with --db of this test (and a fixed local environment).
  ToolRun jrx(std::vector<std::string> args, const std::string& input = "") const {
    return jrxOn(url_, std::move(args), input);
  }
  static ToolRun jrxOn(const std::string& url, std::vector<std::string> args,
                       const std::string& input = "") {
    args.insert(args.begin(), {"--db", url, "--local-eid", kLocal});
    return runJrxlog(args, input);
  }
  // The JSON Lines of a listing, parsed, without its env records.
  static std::vector<nlohmann::json> parseLines(const ToolRun& r);

  std::string url_;
};

// One progress line of the import format.
std::string progressLine(const std::string& id, const std::string& name, int status, int progress,
                         long long time, const std::string& text,
                         const std::string& extra = "");
std::string envLine(const char* eid, const char* type, const char* title);
// An event with "source_env" kNode; `extra` adds fields (",\"audit\":{...}").
std::string eventLine(const std::string& guid, long long time, const std::string& type,
                      const std::string& extraParams = "", const std::string& extra = "");

std::vector<std::string> ids(const std::vector<nlohmann::json>& records);

}  // namespace jrxtest
