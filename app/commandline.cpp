#include "app/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace varno {

namespace {

const char *const kProgram = "varno-pc";

QString versionNumber()
{
    QString text = QStringLiteral(VARNO_VERSION_TEXT);
    if (text.startsWith(QLatin1Char('v')))
        text.remove(0, 1);
    return text;
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Varno PC Client: live video, recording and playback of networked security cameras.\n"
        "Settings, stores and the log are kept in ~/.local/share/varno ($XDG_DATA_HOME/varno)."));
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Print these options and exit."));
    const QCommandLineOption version(
        {QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Print the version and exit."));
    const QCommandLineOption connectAll(
        QStringLiteral("connect-all"),
        QStringLiteral("After the login, open every camera on the live page as soon as it is seen online."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(connectAll);

    CommandLine line;
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(help)) {
        line.action = CommandLine::Action::Help;
        line.text = parser.helpText();
    } else if (parser.isSet(version)) {
        line.action = CommandLine::Action::Version;
        line.text = QStringLiteral("%1 %2\n").arg(QLatin1String(kProgram), versionNumber());
    } else if (!parsed) {
        line.action = CommandLine::Action::Error;
        line.text = parser.errorText();
    } else if (!parser.positionalArguments().isEmpty()) {
        line.action = CommandLine::Action::Error;
        line.text = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().constFirst());
    }
    line.connectAll = line.action != CommandLine::Action::Error && parser.isSet(connectAll);
    return line;
}

bool asksForInformation(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "--") == 0)
            return false;
        for (const char *known : {"-h", "--help", "-v", "--version"}) {
            if (std::strcmp(arg, known) == 0)
                return true;
        }
    }
    return false;
}

int answerCommandLine(const CommandLine &line)
{
    switch (line.action) {
    case CommandLine::Action::Run:
        return 0;
    case CommandLine::Action::Help:
    case CommandLine::Action::Version:
        std::fputs(line.text.toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
        return 0;
    case CommandLine::Action::Error:
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for the options.\n", kProgram,
                     line.text.toLocal8Bit().constData(), kProgram);
        return 2;
    }
    return 2;
}

} // namespace varno
