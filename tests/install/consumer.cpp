// A program of another project, built against the installed log: it saves one progress report
// into an SQLite log and reads it back.
#include <jrx/JRXLogDBLocal.h>
#include <jrx/JRXRdbms.h>

#include <iostream>

struct Everywhere : JRX::JRXAccessPrototype {
  bool isLocal(const JRX::JRXEID&) override { return true; }
};
struct Provider : JRX::JRXAccessProviderPrototype {
  JRX::intrusive_ptr<JRX::JRXAccessPrototype> getAccess() override { return new Everywhere(); }
};

int main(int, char** argv) {
  JRX::JRXDatabase::open(std::string("sqlite:") + argv[1]);
  JRX::createLogTables();
  JRX::JRXOpLogLocal log(JRX::intrusive_ptr<JRX::JRXAccessProviderPrototype>(new Provider()));
  JRX::JRXRequestProgressData report("installed-1");
  report.name = "vm.start";
  report.progress = 40;
  std::vector<JRX::JRXRequestProgressData> read;
  // No environment, name or parent filter; the first 10 operations of any time.
  int rc = log.saveProgress(report) * 1000 +
           log.getOps(&read, JRX::JRXEID::EID_INVALID, "", "installed-1", "", false, false, 10, 0,
                      2147483647L);
  JRX::JRXDatabase::close();
  std::cout << rc << ' ' << read.size() << " records\n";
  return rc || read.size() != 1 || read[0].name != "vm.start" || read[0].progress != 40;
}
