#pragma once

// Installs the handler that, when a thread faults (SIGSEGV, SIGILL, SIGFPE,
// SIGBUS, SIGTRAP, stack overflow), writes a text dump to
// "log/yyyy_MM_dd-hh_mm_ss.dmp" under the working directory, names the fault
// in the log and lets the default action end the process.
void InstallCrashHandler();
