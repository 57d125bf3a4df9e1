#pragma once

#include <QString>
#include <QStringList>

// The options of varno-pc. The program keeps its settings in files of the
// installation directory; the command line only asks for information or
// for the wall-display start.
namespace varno {

struct CommandLine
{
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    bool connectAll = false; // --connect-all: open every camera seen online
    QString text;            // the help or version text, or the error message
};

// Reads arguments (program name first). --help and --version win over any
// other argument, so that they answer even next to an option the program
// does not know (such as one of the toolkit's own, read by the application
// object later). Needs a QCoreApplication for the help text.
CommandLine parseCommandLine(const QStringList &arguments);

// True when argv asks for information (--help, -h, --version, -v): answered before the application object that needs a
// display is made.
bool asksForInformation(int argc, char **argv);

// Prints the help or version text to standard output, or the error to
// standard error with a hint; returns the process's exit code (0, or 2 for
// a usage error).
int answerCommandLine(const CommandLine &line);

} // namespace varno
