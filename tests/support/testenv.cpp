#include "testenv.h"
#include "files.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QtGlobal>

namespace varno::test {

QString tempRoot()
{
    const QString root = qEnvironmentVariable("VARNO_TEST_TMP");
    return root.isEmpty() ? QDir::tempPath() : root;
}

QString installDir()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !base.startsWith(QLatin1Char('/')))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/varno");
}

QString buildDir()
{
    return qEnvironmentVariable("VARNO_BUILD_DIR");
}

QString sourceDir()
{
    return qEnvironmentVariable("VARNO_SOURCE_DIR");
}

QByteArray logText()
{
    return readFile(installDir() + QStringLiteral("/log/Varno.log"));
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

quint16 freeLoopbackPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t i = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[i];
}

} // namespace varno::test
