// The request frame: commands, their contexts, access checks and the functional interfaces
// the services implement.
#pragma once

#include <boost/intrusive_ptr.hpp>
#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "JRXGUID.h"
#include "JRXMessage.h"
#include "JRXRecords.h"
#include "JRXRefCounter.h"
#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

namespace JRX {

using boost::intrusive_ptr;

class JRXRequestHandlerPrototype : public virtual JRXRefCounter {};
class JRXConnectionPrototype : public virtual JRXRefCounter {};

// Tells which environments a local functional may serve.
class JRXAccessPrototype : public virtual JRXRefCounter {
 public:
  virtual bool isLocal(const JRXEID& eid) = 0;
};

class JRXAccessProviderPrototype : public virtual JRXRefCounter {
 public:
  virtual intrusive_ptr<JRXAccessPrototype> getAccess() = 0;
};

class JRXRequestContextPrototype : public virtual JRXRefCounter {
 public:
  virtual void setLastError(const JRXRequestErrorData& e) = 0;
  virtual bool hasLastError() const = 0;
  virtual JRXRequestErrorData getLastError() const = 0;
};

class JRXRequestContextLocalPrototype : public JRXRequestContextPrototype {};

class JRXRequest {
 public:
  virtual ~JRXRequest() = default;
  virtual intrusive_ptr<JRXRequestContextPrototype> createContext() const = 0;
};

// A request served in this process. Commands nest (a command begun inside another, as a
// batch does per record); the context, and with it the last error, belongs to the request.
class JRXRequestLocal : public virtual JRXRequest {
 public:
  explicit JRXRequestLocal(intrusive_ptr<JRXAccessProviderPrototype> provider);
  ~JRXRequestLocal() override;

  intrusive_ptr<JRXRequestContextPrototype> createContext() const override;

  int beginCommand();
  // Closes the innermost open command; returns error.code.
  int endCommand(const JRXRequestErrorData& error);
  // Runs the writer into a new answer message (kept as answer() until the next answer),
  // deletes the writer, closes the command; returns error.code.
  int endCommandWithAnswer(JRXMsgWriter* writer, const JRXRequestErrorData& error);
  intrusive_ptr<JRXRequestContextLocalPrototype> getContextLocal() const;

  // Observation, for the tool and tests.
  intrusive_ptr<JRXAccessProviderPrototype> getProvider() const { return provider_; }
  int commandDepth() const { return depth_; }
  const JRXMessage* answer() const { return answer_.get(); }
  int answerWriteResult() const { return answerResult_; }
  // The commands ended since the latest outermost command began, in the order they ended
  // (inner commands before their outer one).
  const std::vector<JRXRequestErrorData>& endedCommands() const { return ended_; }

 private:
  intrusive_ptr<JRXAccessProviderPrototype> provider_;
  mutable intrusive_ptr<JRXRequestContextLocalPrototype> context_;
  int depth_ = 0;
  std::unique_ptr<JRXMessage> answer_;
  int answerResult_ = 0;
  std::vector<JRXRequestErrorData> ended_;
};

// Which rights a client holds: per environment, or on "*" (every environment).
class JRXAccessPolicy {
 public:
  virtual ~JRXAccessPolicy() = default;
  virtual bool holds(const JRXEID& eid, int right) const = 0;
};

class JRXRightsTable : public JRXAccessPolicy {
 public:
  void grant(const JRXEID& eid, int right) { rights_[eid].insert(right); }
  void grantEverywhere(int right) { star_.insert(right); }
  // An invalid identifier is only covered by "*".
  bool holds(const JRXEID& eid, int right) const override;
  // Loads client `client` of an ACL file ({"clients": {NAME: {GUID or "*": [right, ...]}}});
  // a client not listed holds nothing. Throws std::runtime_error naming what is wrong.
  static std::shared_ptr<JRXRightsTable> loadAclFile(const std::string& path,
                                                     const std::string& client);
  // The same from the file's text; `origin` names it in errors ("ACL file ORIGIN: ...").
  static std::shared_ptr<JRXRightsTable> parseAcl(const std::string& text,
                                                  const std::string& client,
                                                  const std::string& origin);

 private:
  std::map<JRXEID, std::set<int>> rights_;
  std::set<int> star_;
};

class JRXAccessChecker {
 public:
  // Null policy: every right granted.
  explicit JRXAccessChecker(std::shared_ptr<const JRXAccessPolicy> policy = nullptr);

  // The checker of the calling thread's client: the one set for this thread, else the
  // process default (set by setDefault, initially one that grants everything).
  static JRXAccessChecker* getClientContext();
  static void setClientContext(JRXAccessChecker* checker);  // this thread; null: the default
  static void setDefault(std::shared_ptr<JRXAccessChecker> checker);

  // 0 when the client holds the right on that environment (or on "*"); 414 otherwise, as
  // every form below.
  int accessCheck(const JRXEID& eid, int right);
  // flag true: removes from the set the environments on which the client lacks the right;
  // 0 when the set is not empty afterwards or the client holds the right on the local
  // environment. flag false: 0 when the client holds the right on every environment of the set.
  int accessCheck(std::set<JRXEID, JRXEnvIDComparator>& eids, int right, bool flag);
  // The environment form on the local environment.
  int accessCheck(int right);

  // Checks made so far (tests count them).
  int checksMade() const { return checks_.load(); }

 private:
  bool holds(const JRXEID& eid, int right) const;
  std::shared_ptr<const JRXAccessPolicy> policy_;
  std::atomic<int> checks_{0};
};

struct Security {
  static JRXAccessChecker* context() { return JRXAccessChecker::getClientContext(); }
  static bool can(int right) { return context()->accessCheck(right) == 0; }
  static bool can(const JRXEID& eid, int right) { return context()->accessCheck(eid, right) == 0; }
  static bool can(std::set<JRXEID, JRXEnvIDComparator>& eids, int right, bool flag) {
    return context()->accessCheck(eids, right, flag) == 0;
  }
  static bool cannot(int right) { return !can(right); }
  static bool cannot(const JRXEID& eid, int right) { return !can(eid, right); }
  static bool cannot(std::set<JRXEID, JRXEnvIDComparator>& eids, int right, bool flag) {
    return !can(eids, right, flag);
  }
};

class JRXConfiguration {
 public:
  // The local environment: set explicitly, else the one the database was created with.
  static JRXEID getLocalEID();
  static void setLocalEID(const JRXEID& eid);
};

// ------------------------------------------------------------ functional interfaces

class JRXFunctional {
 public:
  virtual ~JRXFunctional() = default;
};

template <class T>
class JRXRequestModificator {
 public:
  virtual ~JRXRequestModificator() = default;
  virtual T* beginTransaction() = 0;
  virtual T* endTransaction(intrusive_ptr<JRXRequestHandlerPrototype> handler) = 0;
  virtual T* async(intrusive_ptr<JRXRequestHandlerPrototype> handler, const std::string& name) = 0;
  virtual T* sync(intrusive_ptr<JRXRequestHandlerPrototype> handler, const std::string& name) = 0;
  virtual T* timeout(int seconds, bool flag) = 0;
  virtual T* remote(const std::string& name, bool flag) = 0;
  virtual T* priority(int value) = 0;
  virtual T* exclusive() = 0;
  virtual T* connection(intrusive_ptr<JRXConnectionPrototype> conn) = 0;
  virtual T* progress(bool flag) = 0;
  virtual T* log(bool flag) = 0;
  virtual T* session(const std::string& id) = 0;
  virtual T* store() = 0;
  virtual T* getThis() = 0;
};

// The framework's modificators: they record the request's settings and return the object.
struct JRXRequestSettings {
  intrusive_ptr<JRXRequestHandlerPrototype> handler;
  std::string handlerName;
  bool asyncMode = false;
  int timeoutSeconds = 0;
  bool timeoutFlag = false;
  int priorityValue = 0;
  bool progressFlag = false;
  bool logFlag = false;
  bool stored = false;
};

template <class T>
class JRXRequestModificatorImpl : public virtual JRXRequestModificator<T> {
 public:
  T* beginTransaction() override { return this->getThis(); }
  T* endTransaction(intrusive_ptr<JRXRequestHandlerPrototype>) override { return this->getThis(); }
  T* async(intrusive_ptr<JRXRequestHandlerPrototype> h, const std::string& n) override {
    settings_.handler = h; settings_.handlerName = n; settings_.asyncMode = true;
    return this->getThis();
  }
  T* sync(intrusive_ptr<JRXRequestHandlerPrototype> h, const std::string& n) override {
    settings_.handler = h; settings_.handlerName = n; settings_.asyncMode = false;
    return this->getThis();
  }
  T* timeout(int s, bool f) override { settings_.timeoutSeconds = s; settings_.timeoutFlag = f; return this->getThis(); }
  T* remote(const std::string&, bool) override { return this->getThis(); }
  T* priority(int v) override { settings_.priorityValue = v; return this->getThis(); }
  T* exclusive() override { return this->getThis(); }
  T* connection(intrusive_ptr<JRXConnectionPrototype>) override { return this->getThis(); }
  T* progress(bool f) override { settings_.progressFlag = f; return this->getThis(); }
  T* log(bool f) override { settings_.logFlag = f; return this->getThis(); }
  T* session(const std::string&) override { return this->getThis(); }
  T* store() override { settings_.stored = true; return this->getThis(); }
  const JRXRequestSettings& settings() const { return settings_; }

 private:
  JRXRequestSettings settings_;
};

// A local request has no transaction, remote peer, connection or session of its own.
template <class T>
class JRXRequestModificatorLocal : public virtual JRXRequestModificatorImpl<T>,
                                   public JRXRequestLocal {
 public:
  explicit JRXRequestModificatorLocal(intrusive_ptr<JRXAccessProviderPrototype> provider)
      : JRXRequestLocal(provider) {}
  T* beginTransaction() override { return nullptr; }
  T* endTransaction(intrusive_ptr<JRXRequestHandlerPrototype>) override { return nullptr; }
  T* remote(const std::string&, bool) override { return this->getThis(); }
  T* exclusive() override { return this->getThis(); }
  T* connection(intrusive_ptr<JRXConnectionPrototype>) override { return this->getThis(); }
  T* session(const std::string&) override { return this->getThis(); }
};

class JRXOpLog;
class JRXEventLog;

class JRXOpLogBase : public JRXFunctional {
 public:
  ~JRXOpLogBase() override = default;
  virtual int getOps(std::vector<JRXRequestProgressData>* result, const JRXEID& eid,
                     const std::string& opName, const std::string& opId,
                     const std::string& opParentId, bool firstOnly, bool activeOnly,
                     unsigned int limit, long fromTime, long toTime) = 0;
  virtual int putOps(const std::vector<JRXRequestProgressData>& records) = 0;
};

class JRXOpLog : public virtual JRXRequestModificator<JRXOpLog>, public virtual JRXOpLogBase {
 public:
  JRXOpLog* getThis() override { return this; }
};

class JRXEventLogBase : public JRXFunctional {
 public:
  ~JRXEventLogBase() override = default;
  virtual int getEvents(std::vector<JRXEvent>* result, const JRXEID& eid, bool asSource,
                        unsigned int limit, const std::string& category,
                        const std::string& type, bool withData, long fromTime,
                        long toTime) = 0;
};

class JRXEventLog : public virtual JRXRequestModificator<JRXEventLog>,
                    public virtual JRXEventLogBase {
 public:
  JRXEventLog* getThis() override { return this; }
};

}  // namespace JRX

JRX_PUBLIC_END
