// Ctrl+C and SIGTERM for the subcommands that can stop early and keep what
// they wrote (generate, dedupe, shuffle). After InstallInterruptHandler the
// signal only raises a flag; the running job polls it and stops like the
// desktop application's Stop command.
//
//   InstallInterruptHandler();
//   ... if (Interrupted()) run.Stop(); ...
//   CheckTemplateText(text, &InterruptFlag());   // code that polls a stop flag itself
//   return Interrupted() ? kExitInterrupted : kExitDone;
//
// Thread safety: Interrupted may be read from any thread; the handler is
// installed once, from the main thread, before the job starts.
#pragma once

#include <atomic>

void InstallInterruptHandler();

// True once SIGINT or SIGTERM arrived after InstallInterruptHandler.
bool Interrupted();

// The flag behind Interrupted, for code that takes a stop flag.
const std::atomic<bool>& InterruptFlag();
