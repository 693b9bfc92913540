// Intrusive reference counting of framework objects. Counts are atomic; an object deletes
// itself (through its virtual destructor) when its count falls from 1 to 0.
#pragma once

#include <atomic>

#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

namespace JRX {

class JRXRefCounter {
 public:
  JRXRefCounter() : count_(0) {}
  JRXRefCounter(const JRXRefCounter&) : count_(0) {}
  JRXRefCounter& operator=(const JRXRefCounter&) { return *this; }
  virtual ~JRXRefCounter() = default;

  void addRef() const { count_.fetch_add(1, std::memory_order_relaxed); }
  void release() const {
    if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  int refCount() const { return count_.load(std::memory_order_acquire); }

 private:
  mutable std::atomic<int> count_;
};

inline void intrusive_ptr_add_ref(const JRXRefCounter* p) { p->addRef(); }
inline void intrusive_ptr_release(const JRXRefCounter* p) { p->release(); }

}  // namespace JRX

JRX_PUBLIC_END
