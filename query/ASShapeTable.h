// The statements a session has met, found by their shape key (ASShapeKey) on every statement.
//
// A standard hash map keyed by views of the shapes' own keys: no key is copied to look one
// up. It once was an open table of its own with a hash that took eight bytes at a step;
// measured against it (keys of 60 to 240 bytes with a common start, looked up in turn, CPU
// time on the two-core development machine): 20 ns a lookup for the open table at any size,
// 6 ns for std::unordered_map with up to 20 shapes (libstdc++ compares the keys of so small a
// map instead of hashing) and 23 to 25 ns with 30 to 60. A session of the log meets a few
// dozen shapes, and a statement costs 5 µs at the least, so the difference is noise; the
// plain map is kept for being plain.
//
// At most kMax shapes: a table that is full is cleared whole, since a session that meets
// more shapes than that is making statements it should not make.
#pragma once

#include <memory>
#include <string_view>
#include <unordered_map>

// `Shape` has a member `key` (a std::string: the shape key it was made for).
template <class Shape>
class ASShapeTable {
 public:
  static constexpr size_t kMax = 256;

  // The shape of `key`, or null.
  Shape* Find(std::string_view key) const {
    auto it = shapes_.find(key);
    return it == shapes_.end() ? nullptr : it->second.get();
  }
  // Adds a shape met for the first time. REQUIRES: !Full() and no shape of its key.
  Shape& Add(std::unique_ptr<Shape> made) {
    Shape& s = *made;
    shapes_.emplace(std::string_view(s.key), std::move(made));  // a view of its own key
    return s;
  }
  bool Full() const { return shapes_.size() >= kMax; }
  size_t size() const { return shapes_.size(); }
  void Clear() { shapes_.clear(); }
  template <class F>
  void ForEach(F&& f) const {
    for (const auto& entry : shapes_) f(*entry.second);
  }

 private:
  std::unordered_map<std::string_view, std::unique_ptr<Shape>> shapes_;
};
