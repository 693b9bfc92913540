// jrxlog copy: the whole log, with the framework's tables (the local environment and the
// environment directory), into an empty database of either kind.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "ASTableCopy.h"
#include "Commands.h"
#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "ProgressBar.h"
#include "TableOutput.h"

namespace jrxlog {

namespace {

std::vector<std::unique_ptr<ASDomain>> copiedTables() {
  std::vector<std::unique_ptr<ASDomain>> tables = JRX::JRXDatabase::tables();
  for (auto& t : JRX::logTables()) tables.push_back(std::move(t));
  return tables;
}

// A target with rows in any of the tables would end up with two logs in one, or with
// conflicting keys halfway through: it is refused before anything is written to it.
void refuseNonEmpty(ASSession* target, const std::vector<std::unique_ptr<ASDomain>>& tables) {
  std::string held;
  for (const auto& t : tables)
    if (ASTableHasRows(target, *t)) held += (held.empty() ? "" : ", ") + t->TableName();
  if (!held.empty())
    throw std::runtime_error("the target database is not empty (rows in " + held +
                             "); nothing was copied");
}

std::string rate(long long rows, double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%.1f s, %.0f rows/s", seconds,
                seconds > 0 ? static_cast<double>(rows) / seconds : 0.0);
  return text;
}

struct CopyOptions {
  std::string to;
  size_t batch = 5000;
};

int runCopy(const CopyOptions& o) {
  const std::vector<std::unique_ptr<ASDomain>> tables = copiedTables();

  std::shared_ptr<ASDatabase> targetDb;
  ASSession* target = nullptr;
  try {
    targetDb = ASDatabase::Open(o.to);
    target = targetDb->Session();
    refuseNonEmpty(target, tables);
    for (const auto& t : tables) target->CreateTable(*t);
  } catch (const AException& e) {
    throw std::runtime_error("the target database: " + e.Text().str());
  }
  ASSession* source = JRX::JRXDatabase::get()->Session();

  // One picture of the source for every table, whoever writes to it meanwhile.
  std::vector<ASTableDigest> copied;
  const auto start = std::chrono::steady_clock::now();
  std::vector<long long> counts;  // COUNT(*) of the source: the pages read must add up to it
  long long total = 0, done = 0;
  {
    ASTransaction read(source, AS_TRAN_READ);
    for (const auto& t : tables) {
      counts.push_back(ASCountRows(source, *t));
      total += counts.back();
    }
    ProgressBar bar(2);
    bar.update(0, static_cast<uint64_t>(total), 0, true);
    for (const auto& t : tables) {
      ASCopyOptions options;
      options.batchRows = o.batch;
      options.progress = [&](long long rows) {
        bar.update(static_cast<uint64_t>(done + rows), static_cast<uint64_t>(total),
                   static_cast<uint64_t>(done + rows));
      };
      try {
        copied.push_back(ASCopyTable(source, target, *t, options));
      } catch (const AException& e) {
        bar.finish();
        throw std::runtime_error("copying " + t->TableName() + " failed: " + e.Text().str() +
                                 "; the target holds part of the log");
      }
      done += copied.back().rows;
    }
    read.Commit();
  }
  const double copySeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  Table out({{"TABLE"}, {"ROWS", Table::RIGHT}, {"SOURCE CHECKSUM"}, {"COPIED ROWS", Table::RIGHT},
             {"COPIED CHECKSUM"}, {"CHECK"}});
  size_t mismatches = 0;
  for (size_t i = 0; i < tables.size(); ++i) {
    ASTableDigest back;
    try {
      back = ASDigestTable(target, *tables[i]);
    } catch (const AException& e) {
      throw std::runtime_error("reading " + tables[i]->TableName() + " of the copy back failed: " +
                               e.Text().str());
    }
    const bool same = back == copied[i] && copied[i].rows == counts[i];
    if (!same) ++mismatches;
    out.addRow({tables[i]->TableName(), std::to_string(counts[i]), copied[i].checksum,
                std::to_string(back.rows), back.checksum, same ? "ok" : "MISMATCH"});
  }
  out.print(std::cout, 0, false);
  std::cout << "copied " << done << " rows (" << rate(done, copySeconds) << ")\n";
  if (mismatches) {
    std::cerr << "jrxlog: " << mismatches << " table" << (mismatches == 1 ? "" : "s")
              << " of the copy differ from the source\n";
    return 1;
  }
  return 0;
}

}  // namespace

void addCopy(CommandLine& cl) {
  auto o = std::make_shared<CopyOptions>();
  CLI::App* c = addCommand(cl, "copy",
                           "copy the whole log, every table and row with its ids, into an empty "
                           "database of either kind; then compare row counts and checksums per "
                           "table",
                           o, runCopy,
                           "Exits 1 when the target already holds rows, or when a table of the "
                           "copy differs from the source.");
  c->add_option("--to", o->to, "the empty target database (URL forms as for --db)")
      ->type_name("URL")->required();
  addNumber(*c, "--batch", o->batch, 1, 1000000, "rows per transaction on the target")
      ->capture_default_str();
}

}  // namespace jrxlog
