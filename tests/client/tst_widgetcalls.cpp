// No widget class calls the camera libraries (P2P, ONVIF, RTSP, device
// manager) itself: its controller does, off the window's thread. Reads the
// sources of the page folders.
#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

class TestWidgetCalls : public QObject
{
    Q_OBJECT

private slots:
    void widgetSourcesCallNoCameraLibrary();
};

namespace {

const char *const kFolders[] = {"alarm", "client", "config", "device", "live", "playback", "common/ui"};

// The Qt widget classes the pages derive from.
const QSet<QString> kQtWidgets = {
    QStringLiteral("QWidget"),    QStringLiteral("QDialog"),      QStringLiteral("QFrame"),
    QStringLiteral("QLabel"),     QStringLiteral("QTreeWidget"),  QStringLiteral("QTableWidget"),
    QStringLiteral("QMainWindow"), QStringLiteral("QAbstractButton"), QStringLiteral("QPushButton"),
    QStringLiteral("QOpenGLWidget"), QStringLiteral("QAbstractScrollArea"), QStringLiteral("QSlider"),
};

QString withoutComments(QString text)
{
    text.remove(QRegularExpression(QStringLiteral("/\\*.*?\\*/"), QRegularExpression::DotMatchesEverythingOption));
    text.remove(QRegularExpression(QStringLiteral("//[^\\n]*")));
    return text;
}

} // namespace

void TestWidgetCalls::widgetSourcesCallNoCameraLibrary()
{
    const QString root = qEnvironmentVariable("VARNO_SOURCE_DIR");
    QVERIFY2(QFileInfo(root + QStringLiteral("/client/client.h")).exists(), "VARNO_SOURCE_DIR is not the source tree");

    // Every class of the folders with its base, and the header it is in.
    const QRegularExpression classDecl(
        QStringLiteral("\\bclass\\s+(\\w+)\\s*(?:final\\s*)?:\\s*public\\s+([\\w:]+)"));
    QHash<QString, QString> baseOf;
    QHash<QString, QString> headerOf;
    for (const char *folder : kFolders) {
        const QDir dir(root + QLatin1Char('/') + QLatin1String(folder));
        for (const QString &name : dir.entryList({QStringLiteral("*.h")}, QDir::Files)) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QString text = withoutComments(QString::fromUtf8(f.readAll()));
            for (auto it = classDecl.globalMatch(text); it.hasNext();) {
                const QRegularExpressionMatch m = it.next();
                baseOf.insert(m.captured(1), m.captured(2));
                headerOf.insert(m.captured(1), dir.filePath(name));
            }
        }
    }
    auto isWidget = [&](QString cls) {
        for (int depth = 0; depth < 16 && !cls.isEmpty(); ++depth) {
            if (kQtWidgets.contains(cls))
                return true;
            cls = baseOf.value(cls);
        }
        return false;
    };

    // The header of each widget class and the source beside it.
    const QRegularExpression call(QStringLiteral(
        "\\b(P2P_Client_SDK_\\w+|SDK_DVRMGR_\\w+|RTSP_\\w+|ONVIF_\\w+|Connect_Peer|Start_Playback|Start_Download|"
        "Stop_Download)\\s*\\("));
    QStringList widgets;
    QStringList found;
    for (auto it = headerOf.cbegin(); it != headerOf.cend(); ++it) {
        if (!isWidget(it.key()))
            continue;
        widgets << it.key();
        QString source = it.value();
        source.replace(source.size() - 2, 2, QStringLiteral(".cpp"));
        for (const QString &path : {it.value(), source}) {
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const QString text = withoutComments(QString::fromUtf8(f.readAll()));
            for (auto m = call.globalMatch(text); m.hasNext();)
                found << QDir(root).relativeFilePath(path) + QStringLiteral(": ") + m.next().captured(1);
        }
    }
    // The scan sees the pages (it cannot pass by finding nothing).
    for (const char *page : {"Client", "realvideo", "fileplay", "QAddDevice", "QAlarmSearch", "QLogMgr", "QDownload"})
        QVERIFY2(widgets.contains(QLatin1String(page)), page);
    found.removeDuplicates();
    QVERIFY2(found.isEmpty(), qPrintable(found.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestWidgetCalls)
#include "tst_widgetcalls.moc"
