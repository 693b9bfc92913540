// The commands of jrxlog. Each file of a command binds the command's options to a struct of
// its own and registers it here; the list's order is the help's. A command's run returns the
// exit status; refusals by the services are thrown as ServiceFailure, command-line mistakes
// as UsageError (both handled by main).
#pragma once

#include "CommandLine.h"

namespace jrxlog {

void addInit(CommandLine& cl);
void addDemo(CommandLine& cl);
void addImport(CommandLine& cl);
void addSaveCommands(CommandLine& cl);
void addListings(CommandLine& cl);
void addFinish(CommandLine& cl);
void addCompact(CommandLine& cl);
void addWatch(CommandLine& cl);
void addServe(CommandLine& cl);
void addCopy(CommandLine& cl);
void addHelpCommands(CommandLine& cl);

inline void (*const kCommands[])(CommandLine&) = {
    addInit,     addDemo,  addImport, addSaveCommands, addListings,     addFinish,
    addCompact,  addWatch, addServe,  addCopy,         addHelpCommands,
};

}  // namespace jrxlog
