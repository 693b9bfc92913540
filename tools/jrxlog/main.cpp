#include <iostream>

#include "ASQuery.h"
#include "Commands.h"
#include "JRXRdbms.h"
#include "Services.h"
#include "JRXResultCodes.h"

namespace jrxlog {

namespace {

int dispatch(const CommandLine& cl) {
  const std::string& c = cl.command();
  if (c == "init") return runInit(cl);
  if (c == "demo") return runDemo(cl);
  if (c == "import") return runImport(cl);
  if (c == "save-progress") return runSaveProgress(cl);
  if (c == "save-event") return runSaveEvent(cl);
  if (c == "ops") return runOps(cl);
  if (c == "events") return runEvents(cl);
  if (c == "unfinished") return runUnfinished(cl);
  if (c == "finish") return runFinish(cl);
  if (c == "compact") return runCompact(cl);
  if (c == "watch") return runWatch(cl);
  if (c == "serve") return runServe(cl);
  if (c == "copy") return runCopy(cl);
  throw UsageError("unknown command '" + c + "'");
}

int usageError(const UsageError& e) {
  std::cerr << "jrxlog: " << e.what() << "\nTry '" << e.helpCommand() << "'.\n";
  return 2;
}

}  // namespace

}  // namespace jrxlog

int main(int argc, char** argv) {
  using namespace jrxlog;
  CommandLine cl;
  try {
    cl = CommandLine::parse(argc, argv);
  } catch (const TextRequested& t) {
    std::cout << t.what();
    return 0;
  } catch (const UsageError& e) {
    return usageError(e);
  }
  int status = 1;
  try {
    routeLibraryLog(cl.global());
    openLog(cl.global());
    status = dispatch(cl);
  } catch (const UsageError& e) {
    status = usageError(e);
  } catch (const ServiceFailure& e) {
    std::cerr << e.what() << '\n';
    status = 1;
  } catch (const AException& e) {
    std::cerr << errorText(JRX::kDatabaseFailure, e.Text().str()) << '\n';
    status = 1;
  } catch (const std::exception& e) {
    std::cerr << "jrxlog: " << e.what() << '\n';
    status = 1;
  }
  std::cout.flush();
  try {
    if (JRX::JRXDatabase::isOpen()) JRX::JRXDatabase::close();
  } catch (const std::exception&) {
  }
  return status;
}
