#include <mutex>

#include "JRXLog.h"
#include "JRXRequest.h"

namespace JRX {

namespace {

class JRXRequestContextLocal : public JRXRequestContextLocalPrototype {
 public:
  void setLastError(const JRXRequestErrorData& e) override {
    std::lock_guard<std::mutex> lock(m_);
    last_ = e;
    has_ = true;
  }
  bool hasLastError() const override {
    std::lock_guard<std::mutex> lock(m_);
    return has_;
  }
  JRXRequestErrorData getLastError() const override {
    std::lock_guard<std::mutex> lock(m_);
    return last_;
  }

 private:
  mutable std::mutex m_;
  bool has_ = false;
  JRXRequestErrorData last_;
};

}  // namespace

JRXRequestLocal::JRXRequestLocal(intrusive_ptr<JRXAccessProviderPrototype> provider)
    : provider_(std::move(provider)) {}

JRXRequestLocal::~JRXRequestLocal() = default;

intrusive_ptr<JRXRequestContextPrototype> JRXRequestLocal::createContext() const {
  return intrusive_ptr<JRXRequestContextPrototype>(new JRXRequestContextLocal());
}

int JRXRequestLocal::beginCommand() {
  // A service object lives as long as the agent: keep one outermost command's worth.
  if (depth_ == 0) ended_.clear();
  ++depth_;
  return 0;
}

int JRXRequestLocal::endCommand(const JRXRequestErrorData& error) {
  if (depth_ > 0) {
    --depth_;
  } else {
    Log2("JRXFramework", __FILE__, __LINE__, "endCommand", __PRETTY_FUNCTION__)
        .put(1, "command ended without a command begun (code %d)", error.code);
  }
  ended_.push_back(error);
  return error.code;
}

int JRXRequestLocal::endCommandWithAnswer(JRXMsgWriter* writer, const JRXRequestErrorData& error) {
  std::unique_ptr<JRXMsgWriter> owned(writer);
  if (owned) {
    std::unique_ptr<JRXMessage> msg(JRXMessage::getFactory()->createNew());
    msg->setName("answer");
    answerResult_ = owned->write(*msg->getIterator());
    answer_ = std::move(msg);
  }
  return endCommand(error);
}

intrusive_ptr<JRXRequestContextLocalPrototype> JRXRequestLocal::getContextLocal() const {
  if (!context_) context_ = new JRXRequestContextLocal();
  return context_;
}

}  // namespace JRX
