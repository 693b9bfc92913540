#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include <boost/intrusive_ptr.hpp>

#include "ASDriver.h"
#include "ASThreadCache.h"

namespace {
std::atomic<unsigned long> nextInstance{1};

// The session this thread used last, by the pool's instance (never reused): every
// transaction asks for it, and the pool's lock and lookup are then skipped.
struct LastSession {
  unsigned long instance;  // 0: none
  ASSession* session;
};
using LastSessionCache = ASThreadCache<LastSession>;
}  // namespace

// One session per thread. A thread's session lives until the database is closed or the
// thread drops it; a later thread that gets the same id reuses it, which is harmless since
// a session carries no state between transactions.
struct ASDatabase::Pool {
  unsigned long instance = nextInstance++;
  std::mutex mutex;
  std::map<std::thread::id, boost::intrusive_ptr<ASSession>> sessions;

  // The calling thread's session when it has one, else null: the one it used last, else
  // the one kept here.
  ASSession* Existing() {
    LastSession& last = LastSessionCache::Mine().data;
    if (last.instance == instance) return last.session;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = sessions.find(std::this_thread::get_id());
    if (it == sessions.end()) return nullptr;
    last = {instance, it->second.get()};
    return last.session;
  }
};

ASDatabase::ASDatabase(const std::string& url) : url_(url), pool_(new Pool) {}

ASDatabase::~ASDatabase() = default;

std::shared_ptr<ASDatabase> ASDatabase::Open(const std::string& url) {
  std::shared_ptr<ASDatabase> db(new ASDatabase(url));
  db->Session();  // a wrong URL or an unreachable server fails here, not at first use
  return db;
}

ASSession* ASDatabase::Session() {
  if (ASSession* mine = pool_->Existing()) return mine;
  // Connect outside the lock: a slow server must not hold up the other threads.
  boost::intrusive_ptr<ASSession> s(new ASSession(ASOpenConnection(url_, pool_->instance)));
  std::lock_guard<std::mutex> lock(pool_->mutex);
  auto& slot = pool_->sessions[std::this_thread::get_id()];
  slot = s;
  LastSessionCache::Mine().data = {pool_->instance, slot.get()};
  return slot.get();
}

void ASDatabase::ReleaseSessionMemory() {
  if (ASSession* mine = pool_->Existing()) mine->Connection().ReleaseMemory();
}

void ASDatabase::DropSession() {
  LastSession& last = LastSessionCache::Mine().data;
  if (last.instance == pool_->instance) last = LastSession();
  boost::intrusive_ptr<ASSession> gone;
  std::lock_guard<std::mutex> lock(pool_->mutex);
  auto it = pool_->sessions.find(std::this_thread::get_id());
  if (it == pool_->sessions.end()) return;
  gone.swap(it->second);
  pool_->sessions.erase(it);
}
