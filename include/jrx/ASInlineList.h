// A list that holds its first N elements inside itself and moves to the heap only beyond
// them. Table objects, selects and updates are made for every statement; their columns,
// keys, orders and setters fit, so making one costs no allocation.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <utility>

#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

template <class T, size_t N>
class ASInlineList {
 public:
  ASInlineList() = default;
  ASInlineList(std::initializer_list<T> items) {
    for (const T& t : items) push_back(t);
  }
  ASInlineList(const ASInlineList& o) {
    for (const T& t : o) push_back(t);
  }
  ASInlineList(ASInlineList&& o) {
    for (T& t : o) push_back(std::move(t));
    o.clear();
  }
  ASInlineList& operator=(const ASInlineList& o) {
    if (this != &o) {
      clear();
      for (const T& t : o) push_back(t);
    }
    return *this;
  }
  ASInlineList& operator=(ASInlineList&& o) {
    if (this != &o) {
      clear();
      for (T& t : o) push_back(std::move(t));
      o.clear();
    }
    return *this;
  }
  ~ASInlineList() {
    clear();
    if (onHeap()) ::operator delete(data_);
  }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  const T& at(size_t i) const {
    if (i >= size_) throw std::out_of_range("list index out of range");
    return data_[i];
  }
  T& back() { return data_[size_ - 1]; }
  const T& back() const { return data_[size_ - 1]; }

  void push_back(const T& t) { emplace_back(t); }
  void push_back(T&& t) { emplace_back(std::move(t)); }
  template <class... A>
  T& emplace_back(A&&... args) {
    if (size_ < capacity_) return *new (data_ + size_++) T(std::forward<A>(args)...);
    T item(std::forward<A>(args)...);  // before growing: `args` may refer to an element
    grow();
    return *new (data_ + size_++) T(std::move(item));
  }
  void clear() {
    for (size_t i = 0; i < size_; ++i) data_[i].~T();
    size_ = 0;
  }

  bool operator==(const ASInlineList& o) const {
    if (size_ != o.size_) return false;
    for (size_t i = 0; i < size_; ++i)
      if (!(data_[i] == o.data_[i])) return false;
    return true;
  }
  bool operator!=(const ASInlineList& o) const { return !(*this == o); }

 private:
  T* inlineData() { return reinterpret_cast<T*>(inline_); }
  bool onHeap() const { return data_ != reinterpret_cast<const T*>(inline_); }
  void grow() {
    const size_t capacity = 2 * capacity_;
    T* bigger = static_cast<T*>(::operator new(capacity * sizeof(T)));
    for (size_t i = 0; i < size_; ++i) {
      new (bigger + i) T(std::move(data_[i]));
      data_[i].~T();
    }
    if (onHeap()) ::operator delete(data_);
    data_ = bigger;
    capacity_ = capacity;
  }

  // Where the elements are and how many fit there: one load each on every use, the list
  // being made and read for every statement. `data_` points into the object itself until
  // it grows, so a list is never copied bytewise (the copy and move above rebuild it).
  alignas(T) unsigned char inline_[N * sizeof(T)];
  T* data_ = inlineData();
  size_t capacity_ = N;
  size_t size_ = 0;
};

JRX_PUBLIC_END
