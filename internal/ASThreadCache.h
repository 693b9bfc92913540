// What a thread keeps of the libraries' state for its next uses: the query library's free
// condition nodes and cursor states, the session and the framework's database it used last.
//
// Such a cache is reached on every statement, several times, so it is plain data (no
// constructor, no destructor: a thread-local of such a type is one address away, without the
// guard a constructed one is reached through), and its address is taken once per use
// (ASThreadOwn). What it holds that must be given back when the thread ends is given back by
// an owner, a thread-local of its own made only when the thread first keeps something
// (Slot::Keep()); after the owner ran, Keep() answers false, so that nothing is kept that
// nobody would free.
//
//   struct Blocks { void* head; size_t count; };           // plain data
//   struct FreeBlocks { void ThreadEnds(Blocks& b) { ... free b's blocks ... } };
//   using Cache = ASThreadCache<Blocks, FreeBlocks>;
//   Cache::Slot& s = Cache::Mine();
//   if (s.Keep()) { ... put a block on s.data ... } else { ... free it now ... }
//
// Each instance of the template is one cache per thread; tag `Data` with a type of its own
// where two caches would hold the same type.
#pragma once

#include "ASThreadOwn.h"

// An owner that has nothing to give back.
struct ASNothingOwned {
  template <class Data>
  void ThreadEnds(Data&) {}
};

template <class Data, class Owner = ASNothingOwned>
class ASThreadCache {
 public:
  struct Slot {
    Data data;  // zero on a thread's first use
    bool armed;   // the owner is made
    bool ending;  // the owner ran: the thread is ending

    // Before keeping something in `data` that must be given back: false while the thread
    // ends (give it back at once then).
    bool Keep() {
      if (ending) return false;
      if (!armed) {
        keeper_.armed = true;  // makes the owner, so that it runs when the thread ends
        armed = true;
      }
      return true;
    }
  };

  // The calling thread's slot.
  static Slot& Mine() { return *ASThreadOwn(slot_); }
  // The calling thread's owner, made now if it was not, for what plain data cannot hold;
  // null while the thread ends.
  static Owner* Owned() { return Mine().Keep() ? &keeper_.owner : nullptr; }

 private:
  struct Keeper {
    Owner owner;
    bool armed = false;
    ~Keeper() {
      Slot& s = slot_;
      s.ending = true;
      owner.ThreadEnds(s.data);
    }
  };
  static thread_local Slot slot_;
  static thread_local Keeper keeper_;
};

template <class Data, class Owner>
thread_local typename ASThreadCache<Data, Owner>::Slot ASThreadCache<Data, Owner>::slot_;
template <class Data, class Owner>
thread_local typename ASThreadCache<Data, Owner>::Keeper ASThreadCache<Data, Owner>::keeper_;
