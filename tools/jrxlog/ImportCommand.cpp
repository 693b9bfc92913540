// jrxlog import: JSON Lines into the log, record by record in file order. Progress records
// that follow each other go to putOps in batches; an env or event record first flushes the
// batch, so that every record sees the log as the records before it left it, and the first
// refused or invalid record stops the import with everything before it stored.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>

#include "Commands.h"
#include "JRXEnvDirectory.h"
#include "JsonRecords.h"
#include "ProgressBar.h"
#include "Services.h"

namespace jrxlog {

namespace {

// The first record that could not be stored, with its line.
class ImportStopped : public std::runtime_error {
 public:
  ImportStopped(long line, const std::string& what)
      : std::runtime_error("line " + std::to_string(line) + ": " + what) {}
};

class Importer {
 public:
  explicit Importer(size_t batchSize) : batchSize_(batchSize) {}

  void add(const Record& r, long line) {
    switch (r.kind) {
      case Record::ENV:
        flush();
        JRX::JRXEnvDirectory::put(r.env.eid, r.env.type, r.env.title);
        ++envs_;
        break;
      case Record::PROGRESS:
        batch_.push_back(r.progress);
        lines_.push_back(line);
        if (batch_.size() >= batchSize_) flush();
        break;
      case Record::EVENT:
        flush();
        saveEvent(r.event, line);
        break;
    }
  }

  void flush() {
    if (batch_.empty()) return;
    JRX::JRXOpLogLocal log(accessProvider());
    int result = log.putOps(batch_);
    if (result != 0) {
      // Every record ended a nested command of its own before putOps ended its command;
      // the first of them that did not answer 0 is the refused record.
      const auto& ended = log.endedCommands();
      size_t failed = 0;
      while (failed + 1 < ended.size() && ended[failed].code == 0) ++failed;
      if (failed >= batch_.size()) failed = batch_.size() - 1;
      std::string message = failed < ended.size() ? ended[failed].message : std::string();
      auto context = log.getContextLocal();
      if (context && context->hasLastError() && context->getLastError().code == result)
        message = context->getLastError().message;
      progress_ += failed;
      long line = lines_[failed];
      batch_.clear();
      lines_.clear();
      throw ImportStopped(line, errorText(result, message));
    }
    progress_ += batch_.size();
    batch_.clear();
    lines_.clear();
  }

  std::string summary() const {
    return std::to_string(envs_) + " env, " + std::to_string(progress_) + " progress, " +
           std::to_string(events_) + " event records";
  }
  size_t total() const { return envs_ + progress_ + events_; }

 private:
  void saveEvent(const JRX::JRXEvent& event, long line) {
    JRX::JRXEventLogLocal log(accessProvider());
    int result = log.saveEvent(event);
    if (result != 0) {
      JRX::JRXRequestErrorData e = lastEnded(log, result);
      throw ImportStopped(line, errorText(e.code, e.message));
    }
    ++events_;
  }

  size_t batchSize_;
  std::vector<JRX::JRXRequestProgressData> batch_;
  std::vector<long> lines_;
  size_t envs_ = 0, progress_ = 0, events_ = 0;
};

bool blank(const std::string& line) {
  for (char c : line)
    if (c != ' ' && c != '\t' && c != '\r') return false;
  return true;
}

}  // namespace

int runImport(const CommandLine& cl) {
  expectPositional(cl, 0, 1, "import takes at most one FILE");
  size_t batch = static_cast<size_t>(parseInteger("batch", cl.value("batch", "500"), 1, 1000000));
  std::string path = cl.positional().empty() ? "-" : cl.positional()[0];

  std::ifstream file;
  std::istream* in = &std::cin;
  uint64_t size = 0;
  if (path != "-") {
    file.open(path, std::ios::binary);
    if (!file) {
      std::cerr << "jrxlog: cannot open " << path << ": " << std::strerror(errno) << '\n';
      return 1;
    }
    in = &file;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) size = static_cast<uint64_t>(st.st_size);
  } else {
    struct stat st {};
    if (fstat(0, &st) == 0 && S_ISREG(st.st_mode)) size = static_cast<uint64_t>(st.st_size);
  }

  Importer importer(batch);
  ProgressBar bar(2);
  std::string line;
  long number = 0;
  uint64_t bytes = 0;
  try {
    while (std::getline(*in, line)) {
      ++number;
      bytes += line.size() + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (blank(line)) continue;
      Record record;
      try {
        record = parseRecord(line, static_cast<int64_t>(std::time(nullptr)));
      } catch (const RecordError& e) {
        // What precedes the bad line is stored before the import stops.
        importer.flush();
        throw ImportStopped(number, e.what());
      }
      importer.add(record, number);
      bar.update(bytes, size, importer.total());
    }
    if (in->bad()) {
      importer.flush();
      bar.finish();
      std::cerr << "jrxlog: error reading " << path << " after line " << number << '\n';
      return 1;
    }
    importer.flush();
  } catch (const ImportStopped& e) {
    bar.finish();
    std::cerr << e.what() << '\n';
    std::cerr << "stored before it: " << importer.summary() << '\n';
    return 1;
  }
  bar.finish();
  std::cout << "imported " << importer.summary() << '\n';
  return 0;
}

}  // namespace jrxlog
