// The framework logger. A record carries category, source file, line, function, the
// function's full signature, a level (1 failures, 2 notable events, 4 drop notices; higher
// is chattier) and the printf-formatted text. Records go to one process-wide sink: stderr by
// default (levels up to JRXLOG_LOGLEVEL, default 1), or whatever a test installs.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

namespace JRX {

struct JRXLogRecord {
  std::string category;
  std::string file;
  int line = 0;
  std::string function;
  std::string signature;
  int level = 0;
  std::string text;
};

class JRXLogSink {
 public:
  virtual ~JRXLogSink() = default;
  virtual void write(const JRXLogRecord& r) = 0;
};

// Keeps every record; thread-safe.
class JRXCapturingLogSink : public JRXLogSink {
 public:
  void write(const JRXLogRecord& r) override;
  std::vector<JRXLogRecord> records() const;
  void clear();

 private:
  mutable std::mutex m_;
  std::vector<JRXLogRecord> records_;
};

// Installs the sink; null restores the stderr sink. Returns the previous one.
std::shared_ptr<JRXLogSink> setLogSink(std::shared_ptr<JRXLogSink> sink);

class Logger {
 public:
  Logger(const char* category, const char* file, int line, const char* function,
         const char* signature);
  void put(int level, const char* format, ...) const __attribute__((format(printf, 3, 4)));

 private:
  const char* category_;
  const char* file_;
  int line_;
  const char* function_;
  const char* signature_;
};

Logger Log2(const char* category, const char* file, int line, const char* function,
            const char* signature);

// Stops the process after logging the failed check (level 0, the given place).
[[noreturn]] void abort(const char* category, const char* file, int line, const char* function,
                        const char* signature);

}  // namespace JRX

JRX_PUBLIC_END
