#include <gtest/gtest.h>

#include <cstring>

#include "JRXInfo.h"

using namespace JRX;

namespace {

// Any bytes, nesting and repeated names read back equal from C-string-safe JSON; UTF-8 as is.
TEST(InfoJson, RecordsRoundTrip) {
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  JRXInfo odd("\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbd\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf",
              std::string("a\0b", 3), false);
  // Overlong, beyond U+10FFFF, the first and last surrogate, a bad continuation, no lead byte
  // of four, a truncated sequence: written so that they read back.
  for (const char* bad : {"\xc0\xaf", "\xe0\x80\x80", "\xe0\x9f\xbf", "\xf0\x80\x80\x80",
                          "\xf4\x90\x80\x80", "\xed\xa0\x80", "\xed\xbf\xbf", "\xe2\x28\xa1",
                          "\xc1\x80\x80\x80", "a\xc3", ""})
    odd.addParameter(bad, "quotes \" \\ / \n\t");
  odd.addParameter("utf8 \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", all);
  JRXInfo deep("root");
  JRXInfo* cur = &deep;
  for (int depth = 0; depth < 200; ++depth)
    cur = &cur->addParameter("level", JRXInfo("d" + std::to_string(depth)));
  for (int i = 0; i < 30; ++i) deep.addParameter(i % 2 ? "env" : "a", JRXInfo(std::to_string(i)));
  std::vector<JRXInfo> infos = {JRXInfo(), JRXInfo("", "", true), odd, deep};
  for (const JRXInfo& in : infos) {
    std::string json;
    ASSERT_EQ(0, in.serializeToString(json));
    EXPECT_EQ(json.size(), std::strlen(json.c_str()));
    EXPECT_NE(json.find("\"text\":\"" + in.getText() + "\""), std::string::npos) << json;
    JRXInfo out("garbage", "x", false);
    EXPECT_EQ(0, out.deserializeFromString(json.c_str())) << json;
    EXPECT_EQ(in, out) << json;
  }
}

TEST(InfoJson, MalformedOrTooDeepInputLeavesTheRecordUnchanged) {
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "{\"text\":\"\",\"params\":[[\"p\",";
  deep += "{\"text\":\"\"}";
  for (int i = 0; i < 5000; ++i) deep += "]]}";
  JRXInfo original("original", "id", false);
  original.addParameter("p", "v");
  for (const char* bad :
       {"", "null", "[]", "{}", R"({"text":1})", R"({"text":"t","extra":1})",
        R"({"text":"t","flag":"no"})", R"({"text":"t","params":{}})",
        R"({"text":"t","params":[["p"]]})", R"({"text":"t","params":[["p",{"text":"v"},3]]})",
        R"({"text":"t","params":[[1,{"text":"v"}]]})", R"({"text":"t","params":[["p",1]]})",
        R"({"text":{"hex":"abc"}})", R"({"text":{"hex":"az"}})", R"({"text":{"hex":"aA"}})",
        R"({"text":{"hex":"Fa"}})", R"({"text":{"hex":"ab","x":1}})", R"({"text":{"hx":"ab"}})",
        R"({"text":{"hex":1}})", R"({"text":"t")", R"({"text":"t"} trailing)",
        "{\"text\":\"\xff\"}", deep.c_str(), static_cast<const char*>(nullptr)}) {
    JRXInfo r = original;
    EXPECT_NE(0, r.deserializeFromString(bad));
    EXPECT_EQ(original, r) << ::testing::PrintToString(std::string(bad ? bad : "null"));
  }

  JRXInfo tooDeep;
  JRXInfo* cur = &tooDeep;
  for (int depth = 0; depth <= JRXInfo::kMaxDepth; ++depth)
    cur = &cur->addParameter("p", JRXInfo());
  std::string text;
  EXPECT_NE(0, tooDeep.serializeToString(text));
}

}  // namespace
