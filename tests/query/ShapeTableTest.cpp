// The table of shapes a session has met: found by the whole key, bytes and length.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ASShapeTable.h"

namespace {

struct Shape {
  std::string key;
};

std::unique_ptr<Shape> shape(std::string key) {
  std::unique_ptr<Shape> s(new Shape);
  s->key = std::move(key);
  return s;
}

TEST(ShapeTable, FindsByTheWholeKeyAndHoldsAtMostItsMost) {
  ASShapeTable<Shape> table;
  const std::string keys[] = {std::string("a\0b", 3), std::string("a\0c", 3), "a", "",
                              std::string(300, 'x'), std::string(299, 'x') + "y"};
  for (const std::string& k : keys) {
    EXPECT_EQ(table.Find(k), nullptr);
    table.Add(shape(k));
  }
  for (const std::string& k : keys) {
    // Looked up through another buffer, as a statement's key is.
    const std::string again(k.data(), k.size());
    ASSERT_NE(table.Find(again), nullptr);
    EXPECT_EQ(table.Find(again)->key, k);
  }
  EXPECT_EQ(table.Find("ab"), nullptr);
  EXPECT_EQ(table.Find(std::string(301, 'x')), nullptr);
  // It holds at most its most, finds every key after its map grew, and forgets all when
  // cleared.
  table.Clear();
  for (size_t i = 0; i < ASShapeTable<Shape>::kMax; ++i) {
    EXPECT_FALSE(table.Full());
    table.Add(shape("shape " + std::to_string(i)));
  }
  EXPECT_TRUE(table.Full());
  for (size_t i = 0; i < ASShapeTable<Shape>::kMax; ++i)
    ASSERT_NE(table.Find("shape " + std::to_string(i)), nullptr) << i;
  table.Clear();
  EXPECT_FALSE(table.Full());
  EXPECT_EQ(table.size(), 0u);
  EXPECT_EQ(table.Find("shape 0"), nullptr);
}

}  // namespace
