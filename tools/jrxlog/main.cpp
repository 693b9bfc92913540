#include <iostream>

#include "ASQuery.h"
#include "CommandLine.h"
#include "JRXRdbms.h"
#include "JRXResultCodes.h"
#include "Services.h"

namespace jrxlog {

namespace {

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
    cl.parse(argc, argv);
  } catch (const TextRequested& t) {
    std::cout << t.what();
    return 0;
  } catch (const UsageError& e) {
    return usageError(e);
  }
  int status = 1;
  try {
    if (cl.opensLog) {
      routeLibraryLog(cl.global);
      openLog(cl.global);
    }
    status = cl.run();
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
  try {
    flushOutput();
  } catch (const std::exception& e) {
    // A failure already reported may have been this one.
    if (status == 0) {
      std::cerr << "jrxlog: " << e.what() << '\n';
      status = 1;
    }
  }
  try {
    if (JRX::JRXDatabase::isOpen()) JRX::JRXDatabase::close();
  } catch (const std::exception&) {
  }
  return status;
}
