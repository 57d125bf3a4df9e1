#pragma once

// A file as an ordinary player sees it: ffprobe's figures and ffmpeg's
// complaints while decoding it whole.

#include <QProcess>
#include <QStringList>

namespace varno::test {

// What ffprobe prints for the file with these options, trimmed.
inline QString ffprobe(const QString &path, const QStringList &options)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"), QStringList{QStringLiteral("-v"), QStringLiteral("error")} + options
                                           + QStringList{path});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The options as one text, separated by spaces.
inline QString ffprobe(const QString &path, const char *options)
{
    return ffprobe(path, QString::fromLatin1(options).split(QLatin1Char(' ')));
}

// The entries of one stream ("v:0", "a:0"), one line each, comma-separated.
inline QStringList probeLines(const QString &path, const char *stream, const char *entries)
{
    const QString out = ffprobe(path, {QStringLiteral("-select_streams"), QString::fromLatin1(stream),
                                       QStringLiteral("-show_entries"), QString::fromLatin1(entries),
                                       QStringLiteral("-of"), QStringLiteral("csv=p=0")});
    return out.isEmpty() ? QStringList() : out.split(QLatin1Char('\n'));
}

// ffmpeg's complaints while decoding the whole file, stopping at the first
// (empty: clean).
inline QString decodeErrors(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                                       QStringLiteral("-xerror"), QStringLiteral("-i"), path, QStringLiteral("-f"),
                                       QStringLiteral("null"), QStringLiteral("-")});
    if (!p.waitForFinished(60000))
        return QStringLiteral("ffmpeg did not finish");
    return QString::fromUtf8(p.readAllStandardError()).trimmed()
        + (p.exitStatus() != QProcess::NormalExit || p.exitCode() ? QStringLiteral(" (exit)") : QString());
}

} // namespace varno::test
