// The commands of jrxlog. Each returns the exit status; refusals by the services are thrown
// as ServiceFailure, command-line mistakes as UsageError (both handled by main).
#pragma once

#include <ostream>

#include "Options.h"

namespace jrxlog {

int runInit(const CommandLine& cl);
int runDemo(const CommandLine& cl);
int runImport(const CommandLine& cl);
int runSaveProgress(const CommandLine& cl);
int runSaveEvent(const CommandLine& cl);
int runOps(const CommandLine& cl);
int runEvents(const CommandLine& cl);
int runUnfinished(const CommandLine& cl);
int runFinish(const CommandLine& cl);
int runCompact(const CommandLine& cl);
int runWatch(const CommandLine& cl);
int runServe(const CommandLine& cl);
int runCopy(const CommandLine& cl);

// Positional arguments beyond `max` are a usage error.
void expectPositional(const CommandLine& cl, size_t min, size_t max, const char* what);

}  // namespace jrxlog
