#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "JRXInfo.h"

using namespace JRX;

namespace {

JRXInfo roundTrip(const JRXInfo& in) {
  std::string text;
  EXPECT_EQ(0, in.serializeToString(text));
  JRXInfo out("garbage", "x", false);
  EXPECT_EQ(0, out.deserializeFromString(text.c_str())) << text;
  return out;
}

}  // namespace

TEST(InfoJson, EmptyAndPlainRecords) {
  EXPECT_EQ(JRXInfo(), roundTrip(JRXInfo()));
  EXPECT_EQ(JRXInfo("t", "id", false), roundTrip(JRXInfo("t", "id", false)));
  EXPECT_EQ(JRXInfo("", "", true), roundTrip(JRXInfo("", "", true)));
}

TEST(InfoJson, OddBytesSurvive) {
  std::string nul("a\0b", 3);
  std::string invalid = "\xff\xfe bad \xc3";  // not UTF-8, truncated sequence at the end
  std::string overlong = "\xc0\xaf";
  std::string surrogate = "\xed\xa0\x80";
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  JRXInfo info(invalid, nul, false);
  info.addParameter(invalid, all);
  info.addParameter(nul, overlong);
  info.addParameter("", surrogate);
  info.addParameter("utf8 \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "quotes \" \\ / \n\t");
  EXPECT_EQ(info, roundTrip(info));
  std::string text;
  ASSERT_EQ(0, info.serializeToString(text));
  EXPECT_EQ(text.size(), std::strlen(text.c_str()));  // safe to keep as a C string
}

TEST(InfoJson, DeepAndRepeatedParametersKeepTheirOrder) {
  JRXInfo root("root");
  JRXInfo* cur = &root;
  for (int depth = 0; depth < 200; ++depth)
    cur = &cur->addParameter("level", JRXInfo("d" + std::to_string(depth)));
  for (int i = 0; i < 300; ++i) root.addParameter(i % 2 ? "env" : "a", JRXInfo(std::to_string(i)));
  JRXInfo back = roundTrip(root);
  ASSERT_EQ(root, back);
  auto range = back.getParameters().equal_range("env");
  int expected = 1;
  for (auto it = range.first; it != range.second; ++it, expected += 2)
    EXPECT_EQ(std::to_string(expected), it->second.getText());
}

TEST(InfoJson, DepthBeyondTheLimitIsRefusedBothWays) {
  JRXInfo root;
  JRXInfo* cur = &root;
  for (int depth = 0; depth <= JRXInfo::kMaxDepth; ++depth) cur = &cur->addParameter("p", JRXInfo());
  std::string text;
  EXPECT_NE(0, root.serializeToString(text));

  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "{\"text\":\"\",\"params\":[[\"p\",";
  deep += "{\"text\":\"\"}";
  for (int i = 0; i < 5000; ++i) deep += "]]}";
  JRXInfo keep("keep");
  EXPECT_NE(0, keep.deserializeFromString(deep.c_str()));
  EXPECT_EQ(JRXInfo("keep"), keep);
}

TEST(InfoJson, MalformedInputLeavesTheRecordUnchanged) {
  JRXInfo original("original", "id", false);
  original.addParameter("p", "v");
  const char* bad[] = {
      "",
      "null",
      "[]",
      "{}",                                          // text missing
      "{\"text\":1}",
      "{\"text\":\"t\",\"extra\":1}",
      "{\"text\":\"t\",\"flag\":\"no\"}",
      "{\"text\":\"t\",\"params\":{}}",
      "{\"text\":\"t\",\"params\":[[\"p\"]]}",
      "{\"text\":\"t\",\"params\":[[\"p\",{\"text\":\"v\"},3]]}",
      "{\"text\":\"t\",\"params\":[[1,{\"text\":\"v\"}]]}",
      "{\"text\":{\"hex\":\"abc\"}}",
      "{\"text\":{\"hex\":\"zz\"}}",
      "{\"text\":{\"hex\":\"AB\"}}",
      "{\"text\":{\"hex\":\"ab\",\"x\":1}}",
      "{\"text\":\"t\"",
      "{\"text\":\"t\"} trailing",
      "{\"text\":\"\xff\"}",
  };
  for (const char* text : bad) {
    JRXInfo r = original;
    EXPECT_NE(0, r.deserializeFromString(text)) << text;
    EXPECT_EQ(original, r) << text;
  }
  JRXInfo r = original;
  EXPECT_NE(0, r.deserializeFromString(nullptr));
  EXPECT_EQ(original, r);
}

TEST(InfoJson, RandomRecordsRoundTrip) {
  std::mt19937 rng(12345);
  auto randomText = [&rng]() {
    std::string s(rng() % 12, '\0');
    for (char& c : s) c = static_cast<char>(rng() % 256);
    if (rng() % 2)
      for (char& c : s) c = static_cast<char>('a' + static_cast<unsigned char>(c) % 26);
    return s;
  };
  std::function<JRXInfo(int)> make = [&](int depth) {
    JRXInfo info(randomText(), randomText(), rng() % 2 == 0);
    int n = depth > 3 ? 0 : static_cast<int>(rng() % 4);
    for (int i = 0; i < n; ++i) info.addParameter(rng() % 3 ? "same" : randomText(), make(depth + 1));
    return info;
  };
  for (int i = 0; i < 200; ++i) {
    JRXInfo info = make(0);
    EXPECT_EQ(info, roundTrip(info));
  }
}
