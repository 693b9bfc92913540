// The framework logger. A record carries category, source file, line, function, the
// function's full signature, a level (1 failures, 2 notable events, 4 drop notices; higher
// is chattier) and the printf-formatted text. Records go to one process-wide sink: stderr by
// default (levels up to JRXLOG_LOGLEVEL, default 1), or whatever the program installs.
#pragma once

#include <cstdio>
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

// Writes each record up to maxLevel as one line, "CATEGORY [LEVEL] FILE:LINE FUNCTION: TEXT", to
// a stream; a file sink puts the local date and time in front, as a file is read later.
// Thread-safe: records of several threads are whole lines.
class JRXStreamLogSink : public JRXLogSink {
 public:
  // Does not own `out`. REQUIRES: `out` stays open while the sink is installed.
  JRXStreamLogSink(std::FILE* out, int maxLevel);
  // Appends to the file at `path`, made if missing. Throws std::runtime_error naming the path
  // and the system's reason when it cannot be opened.
  static std::shared_ptr<JRXStreamLogSink> appendingTo(const std::string& path, int maxLevel);
  ~JRXStreamLogSink() override;
  void write(const JRXLogRecord& r) override;

 private:
  std::mutex m_;
  std::FILE* out_;
  int maxLevel_;
  bool ownsFile_ = false;
};

// Drops every record.
class JRXNullLogSink : public JRXLogSink {
 public:
  void write(const JRXLogRecord&) override {}
};

// The level JRXLOG_LOGLEVEL names, or `fallback` when it is unset or not a number.
int logLevelFromEnvironment(int fallback);

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
