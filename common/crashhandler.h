#pragma once

// Installs the handler that, when a thread faults (SIGSEGV, SIGILL, SIGFPE,
// SIGBUS, SIGTRAP, stack overflow), writes a text dump to
// "log/yyyy_MM_dd-hh_mm_ss.dmp" under the working directory, names the fault
// in the log and lets the default action end the process.
//
// The handler runs on an alternate signal stack, so that a stack overflow can
// still be reported. Installing gives the calling thread (normally the main
// thread) such a stack; a new thread has none until it calls
// InstallCrashHandlerOnThread(). Every other fault is reported on any thread.
void InstallCrashHandler();

// Gives the calling thread an alternate signal stack of its own (released
// when the thread ends) and notes its stack bounds, so that a stack overflow
// on this thread is reported too. Call it first thing in a thread function.
// Without it a stack overflow on that thread ends the process unreported.
void InstallCrashHandlerOnThread();

// Whether the calling thread has the alternate signal stack that
// InstallCrashHandlerOnThread() gives it.
bool CrashHandlerOnThisThread();

// The exception text logged for a code, or nullptr for a code without one.
const char *CrashExceptionText(unsigned int code);
