// jrxlog import: JSON Lines into the log, record by record in file order. Progress records
// that follow each other go to putOps in batches; an env or event record first flushes the
// batch, so that every record sees the log as the records before it left it, and the first
// refused or invalid record stops the import with everything before it stored. A record
// that failed only because other writers got in its way (ImportRetry) is replayed, with the
// rest of its batch, before the import gives up on it.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>

#include "Commands.h"
#include "JRXEnvDirectory.h"
#include "JRXRetry.h"
#include "JsonRecords.h"
#include "LogCounts.h"
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

// A few replays, each after a longer pause, told on standard error.
const JRX::JRXRetryPolicy kRetry{5, std::chrono::milliseconds(50), std::chrono::milliseconds(2000)};

// Notices about the record at `line`.
JRX::JRXRetryNotice about(const long& line) {
  return [&line](int failedRun, const std::string& reason, std::chrono::milliseconds pause) {
    std::cerr << "jrxlog: line " << line << ": " << reason << "; trying again in "
              << pause.count() << " ms (" << failedRun + 1 << " of " << kRetry.runs << ")\n";
  };
}

class Importer {
 public:
  explicit Importer(size_t batchSize) : batchSize_(batchSize) {}

  void add(const Record& r, long line) {
    switch (r.kind) {
      case Record::ENV:
        flush();
        JRX::retryRdbms([&] { JRX::JRXEnvDirectory::put(r.env.eid, r.env.type, r.env.title); },
                        kRetry, about(line));
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
      case Record::CURSOR:
        break;
    }
  }

  void flush() {
    if (batch_.empty()) return;
    // Records before a failing one are stored by then; a replay starts at the failing one.
    size_t stored = 0;
    long line = lines_[0];
    std::string message;
    int result = JRX::retryService(
        [&] {
          JRX::JRXOpLogLocal log(accessProvider());
          int r = stored == 0 ? log.putOps(batch_)
                              : log.putOps(std::vector<JRX::JRXRequestProgressData>(
                                    batch_.begin() + static_cast<long>(stored), batch_.end()));
          if (r == 0) {
            stored = batch_.size();
            return r;
          }
          // Every record ended a nested command of its own before putOps ended its command;
          // the first of them that did not answer 0 is the refused record.
          const auto& ended = log.endedCommands();
          size_t failed = 0;
          while (failed + 1 < ended.size() && ended[failed].code == 0) ++failed;
          if (stored + failed >= batch_.size()) failed = batch_.size() - stored - 1;
          message = failed < ended.size() ? ended[failed].message : std::string();
          auto context = log.getContextLocal();
          if (context && context->hasLastError() && context->getLastError().code == r)
            message = context->getLastError().message;
          stored += failed;
          line = lines_[stored];
          return r;
        },
        kRetry, about(line));
    progress_ += stored;
    batch_.clear();
    lines_.clear();
    if (result != 0) throw ImportStopped(line, errorText(result, message));
  }

  std::string summary() const {
    std::string text = std::to_string(envs_) + " env, " + std::to_string(progress_) +
                       " progress, " + std::to_string(events_) + " event records", apart;
    if (knownEvents_ != 0)
      apart = std::to_string(knownEvents_) + " event records whose GUID was stored already";
    if (droppedEvents_ != 0)
      apart += (apart.empty() ? "" : ", ") + std::to_string(droppedEvents_) +
               " audit events the log's rules drop";
    return apart.empty() ? text : text + "; not stored: " + apart;
  }
  size_t total() const { return envs_ + progress_ + events_ + knownEvents_ + droppedEvents_; }

 private:
  // The service answers 0 for an event it did not keep: one whose GUID is stored already
  // (a sender's repeated delivery), and an audit event its drop rules found worthless. The
  // summary counts those apart, so that it never claims what the log does not hold.
  void saveEvent(const JRX::JRXEvent& event, long line) {
    const std::string guid = event.guid.toString();
    const auto stored = [&] {
      bool found = false;
      JRX::retryRdbms([&] { found = hasEvent(guid); }, kRetry, about(line));
      return found;
    };
    const bool known = stored();
    JRX::JRXEventLogLocal log(accessProvider());
    int result = JRX::retryService([&] { return log.saveEvent(event); }, kRetry, about(line));
    if (result != 0) {
      JRX::JRXRequestErrorData e = lastEnded(log, result);
      throw ImportStopped(line, errorText(e.code, e.message));
    }
    if (known)
      ++knownEvents_;
    else if (event.type == "audit" && !stored())  // the drop rules judge audit events only
      ++droppedEvents_;
    else
      ++events_;
  }

  size_t batchSize_;
  std::vector<JRX::JRXRequestProgressData> batch_;
  std::vector<long> lines_;
  size_t envs_ = 0, progress_ = 0, events_ = 0, knownEvents_ = 0, droppedEvents_ = 0;
};

struct ImportOptions {
  size_t batch = 500;
  std::string path = "-";
};

int runImport(const ImportOptions& o) {
  const std::string& path = o.path;

  std::ifstream file;
  if (path != "-") file.open(path, std::ios::binary);
  if (path != "-" && !file) {
    std::cerr << "jrxlog: cannot open " << path << ": " << std::strerror(errno) << '\n';
    return 1;
  }
  std::istream* in = path == "-" ? &std::cin : &file;
  // The bar shows how far into a file the import is; of a pipe only the records so far.
  struct stat st {};
  const bool sized = (path == "-" ? fstat(0, &st) : stat(path.c_str(), &st)) == 0;
  const uint64_t size = sized && S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;

  Importer importer(o.batch);
  ProgressBar bar(2);
  std::string line;
  long number = 0;
  uint64_t bytes = 0;
  try {
    while (std::getline(*in, line)) {
      ++number;
      bytes += line.size() + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
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

}  // namespace

void addImport(CommandLine& cl) {
  auto o = std::make_shared<ImportOptions>();
  CLI::App* c = addCommand(cl, "import",
                           "read JSON Lines (env, progress, event records); stops at the first "
                           "refused or invalid record, naming its line",
                           o, runImport, kImportFooter);
  addNumber(*c, "--batch", o->batch, 1, 1000000, "progress records saved per call")
      ->capture_default_str();
  c->add_option("FILE", o->path, "the records; '-' for standard input")
      ->type_name("FILE")->capture_default_str();
}

}  // namespace jrxlog
