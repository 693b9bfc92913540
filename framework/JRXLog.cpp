#include "JRXLog.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace JRX {

namespace {

std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<JRXLogSink> stderrSink() {
  return std::make_shared<JRXStreamLogSink>(stderr, logLevelFromEnvironment(1));
}

std::shared_ptr<JRXLogSink>& currentSink() {
  static std::shared_ptr<JRXLogSink> sink = stderrSink();
  return sink;
}

std::shared_ptr<JRXLogSink> sink() {
  std::lock_guard<std::mutex> lock(sinkMutex());
  return currentSink();
}

const char* orEmpty(const char* s) { return s ? s : ""; }

}  // namespace

int logLevelFromEnvironment(int fallback) {
  const char* v = std::getenv("JRXLOG_LOGLEVEL");
  if (!v || !*v) return fallback;
  char* end = nullptr;
  long l = std::strtol(v, &end, 10);
  return end && *end == '\0' ? static_cast<int>(l) : fallback;
}

JRXStreamLogSink::JRXStreamLogSink(std::FILE* out, int maxLevel) : out_(out), maxLevel_(maxLevel) {}

std::shared_ptr<JRXStreamLogSink> JRXStreamLogSink::appendingTo(const std::string& path,
                                                                 int maxLevel) {
  std::FILE* f = std::fopen(path.c_str(), "ae");
  if (!f) throw std::runtime_error("cannot open the log file " + path + ": " + std::strerror(errno));
  auto sink = std::make_shared<JRXStreamLogSink>(f, maxLevel);
  sink->ownsFile_ = true;
  return sink;
}

JRXStreamLogSink::~JRXStreamLogSink() {
  if (ownsFile_) std::fclose(out_);
}

void JRXStreamLogSink::write(const JRXLogRecord& r) {
  if (r.level > maxLevel_) return;
  std::lock_guard<std::mutex> lock(m_);
  if (ownsFile_) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    char stamp[32];
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
    std::fputs(stamp, out_);
  }
  std::fprintf(out_, "%s [%d] %s:%d %s: %s\n", r.category.c_str(), r.level, r.file.c_str(),
               r.line, r.function.c_str(), r.text.c_str());
  // A file must hold every record even when the process is killed right after.
  std::fflush(out_);
}

void JRXCapturingLogSink::write(const JRXLogRecord& r) {
  std::lock_guard<std::mutex> lock(m_);
  records_.push_back(r);
}

std::vector<JRXLogRecord> JRXCapturingLogSink::records() const {
  std::lock_guard<std::mutex> lock(m_);
  return records_;
}

void JRXCapturingLogSink::clear() {
  std::lock_guard<std::mutex> lock(m_);
  records_.clear();
}

std::shared_ptr<JRXLogSink> setLogSink(std::shared_ptr<JRXLogSink> s) {
  if (!s) s = stderrSink();
  std::lock_guard<std::mutex> lock(sinkMutex());
  std::shared_ptr<JRXLogSink> previous = currentSink();
  currentSink() = std::move(s);
  return previous;
}

Logger::Logger(const char* category, const char* file, int line, const char* function,
               const char* signature)
    : category_(category), file_(file), line_(line), function_(function), signature_(signature) {}

void Logger::put(int level, const char* format, ...) const {
  JRXLogRecord r;
  r.category = orEmpty(category_);
  r.file = orEmpty(file_);
  r.line = line_;
  r.function = orEmpty(function_);
  r.signature = orEmpty(signature_);
  r.level = level;
  if (format) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n > 0) {
      r.text.resize(static_cast<size_t>(n) + 1);
      std::vsnprintf(&r.text[0], r.text.size(), format, again);
      r.text.resize(static_cast<size_t>(n));
    }
    va_end(again);
  }
  sink()->write(r);
}

Logger Log2(const char* category, const char* file, int line, const char* function,
            const char* signature) {
  return Logger(category, file, line, function, signature);
}

void abort(const char* category, const char* file, int line, const char* function,
           const char* signature) {
  Log2(category, file, line, function, signature).put(0, "check failed in %s", orEmpty(signature));
  // Whatever sink is installed dies with the process; the reason must still be seen.
  std::fprintf(stderr, "%s: check failed at %s:%d in %s\n", orEmpty(category), orEmpty(file), line,
               orEmpty(signature));
  std::abort();
}

}  // namespace JRX
