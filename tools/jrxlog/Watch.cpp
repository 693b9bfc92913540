// jrxlog watch: the unfinished operations, redrawn in place until interrupted. A frame is
// written in one piece over the previous one (cursor home, each line cleared to its end,
// the rest of the screen cleared), so the view does not flicker. Off a terminal each
// refresh is printed as a plain table instead.
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <sstream>

#include "Commands.h"
#include "EstimateQueries.h"
#include "Listings.h"
#include "ProgressBar.h"
#include "Services.h"
#include "StopSignals.h"
#include "TableOutput.h"

namespace jrxlog {

namespace {

using Running = OperationRecords;

void writeAll(const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = write(1, s.data() + done, s.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// Puts the terminal back however the loop ends.
class ScreenGuard {
 public:
  explicit ScreenGuard(bool tty) : tty_(tty) {
    // Alternate screen and hidden cursor while watching.
    if (tty_) writeAll("\x1b[?1049h\x1b[?25l\x1b[H\x1b[2J");
  }
  ~ScreenGuard() {
    if (tty_) writeAll("\x1b[?25h\x1b[?1049l");
  }

 private:
  bool tty_;
  StopSignals stop_;
};

// The URL without its password.
std::string shownUrl(const std::string& url) {
  auto scheme = url.find("://");
  if (scheme == std::string::npos) return url;
  auto at = url.find('@', scheme + 3);
  auto colon = url.find(':', scheme + 3);
  if (at == std::string::npos || colon == std::string::npos || colon > at) return url;
  return url.substr(0, colon + 1) + "***" + url.substr(at);
}

// The first `rows` operations: on a terminal with a bar of their progress each.
Table table(const std::vector<Running>& ops, OperationEstimates& estimates, size_t rows,
            bool bars, bool utf8) {
  Table table({{"ID"},
               {"NAME"},
               {"STARTED"},
               {"STATUS"},
               {"PROGRESS", bars ? Table::LEFT : Table::RIGHT},
               {"ETA"},
               {"TEXT", Table::LEFT, Table::TEXT}});
  for (size_t i = 0; i < ops.size() && i < rows; ++i) {
    const auto& r = *ops[i].second;
    table.addRow({r.id, ops[i].first->name, localTime(ops[i].first->time), statusText(r.status),
                  bars ? barText(r.progress, 22, utf8) : std::to_string(r.progress) + "%",
                  etaText(estimates.of(r.id), estimates.now()), r.info.toString()});
  }
  return table;
}

std::string frame(const std::vector<Running>& ops, OperationEstimates& estimates,
                  const Terminal& term, const std::string& db) {
  const size_t room = term.rows > 4 ? static_cast<size_t>(term.rows - 4) : ops.size();
  std::ostringstream body;
  table(ops, estimates, room, true, term.utf8).print(body, term.columns, term.utf8);
  const std::string title = "jrxlog watch  " + shownUrl(db) + "  " +
                            localTime(std::time(nullptr)) + "  " + std::to_string(ops.size()) +
                            " unfinished  (Ctrl-C to quit)";
  std::string out = "\x1b[H" + cutTo(title, static_cast<size_t>(term.columns), term.utf8) +
                    "\x1b[K\n\x1b[K\n";
  std::string line;
  std::istringstream lines(body.str());
  while (std::getline(lines, line)) out += line + "\x1b[K\n";
  if (ops.size() > room) out += "... and " + std::to_string(ops.size() - room) + " more\x1b[K\n";
  return out + "\x1b[J";
}

void plain(const std::vector<Running>& ops, OperationEstimates& estimates, std::ostream& out) {
  out << localTime(std::time(nullptr)) << ": " << ops.size() << " unfinished operation"
      << (ops.size() == 1 ? "" : "s") << '\n';
  table(ops, estimates, ops.size(), false, false).print(out, 0, false);
  out << '\n';
  out.flush();
}

struct WatchOptions {
  double interval = 1;
  long long count = 0;  // none: until interrupted
  const GlobalOptions* global = nullptr;
};

int runWatch(const WatchOptions& o) {
  const double interval = o.interval;
  const long long count = o.count;

  bool tty = Terminal::of(1).isTty;
  ScreenGuard guard(tty);
  for (long long n = 0; !StopSignals::requested(); ++n) {
    if (count && n >= count) break;
    JRX::JRXOpLogLocal log(accessProvider());
    std::vector<JRX::JRXRequestProgressData> records;
    check(log, log.getOps(&records, JRX::JRXEID::EID_INVALID, "", "", "", false, true,
                          2147483647u, 0, 2147483647L));
    const std::vector<Running> ops = eachOperation(records);
    OperationEstimates estimates(static_cast<long>(std::time(nullptr)));
    if (tty)
      writeAll(frame(ops, estimates, Terminal::of(1), o.global->db));
    else
      plain(ops, estimates, std::cout);
    if (count && n + 1 >= count) break;
    StopSignals::sleep(std::chrono::milliseconds(static_cast<long long>(interval * 1000)));
  }
  return 0;
}

}  // namespace

void addWatch(CommandLine& cl) {
  auto o = std::make_shared<WatchOptions>();
  o->global = &cl.global;
  CLI::App* c = addCommand(cl, "watch",
                           "live view of unfinished operations with a progress bar each, until "
                           "Ctrl-C",
                           o, runWatch);
  c->add_option("--interval", o->interval, "seconds between refreshes")
      ->type_name("S")->check(intervalValue())->capture_default_str();
  addNumber(*c, "--count", o->count, 1, 1000000000, "stop after N refreshes");
}

}  // namespace jrxlog
