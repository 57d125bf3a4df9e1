// The download dialog against the simulator's camera storage: files found
// by the page's search, downloaded one at a time and converted to MP4 that
// ffprobe reads; the disk reserve, a folder that cannot be written, closing
// while busy, message 73, the download controller's cancellations without the
// dialog, a job of size 0 and a conversion that does not end when the user
// stops. A camera that stops sending, a user's stop, a full
// disk and a failed conversion are never "Finished" and lose no data; a
// stopped file continues byte-exact; download.db keeps the states and is
// set aside when it cannot be read.

#include "common/crashhandler.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "playback/camerafileconverter.h"
#include "playback/cfiledownload.h"
#include "playback/downloadcontroller.h"
#include "playback/downloadfolder.h"
#include "playback/fileplay.h"
#include "playback/localexport.h"
#include "playback/qdownload.h"
#include "playback/recordsearch.h"
#include "playback/videosearch.h"
#include "playbackfixture.h"

#include "../support/files.h"
#include "../support/probe.h"
#include "../support/testenv.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProgressBar>
#include <QSignalSpy>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <sys/mount.h>

using namespace pbtest;
using varno::playback::DownloadController;
using varno::playback::DownloadFault;
using varno::playback::DownloadRequest;
using varno::playback::DownloadState;
using varno::ui::PromptScript;

namespace {

// A request of the download controller for a file of the camera.
DownloadRequest request(const char *camera, const char *file, const QString &target)
{
    DownloadRequest r;
    r.row = 2;
    r.peerId = camera;
    r.password = "abc123";
    varno::setText(r.file.fileName, file);
    r.target = target;
    r.size = uint32_t(QFileInfo(varno::test::tempRoot() + QStringLiteral("/camera-storage/B765432/") + QLatin1String(file)).size());
    return r;
}

// The MP4's video and audio codecs and its length in whole seconds:
// "h264 aac 4 s".
QString streamsOf(const QString &mp4)
{
    using varno::test::probeLines;
    return QStringLiteral("%1 %2 %3 s")
        .arg(probeLines(mp4, "v:0", "stream=codec_name").value(0), probeLines(mp4, "a:0", "stream=codec_name").value(0))
        .arg(qRound(varno::test::ffprobe(mp4, "-show_entries format=duration -of csv=p=0").toDouble()));
}

} // namespace

class tst_QDownload : public QObject
{
    Q_OBJECT

private:
    QDownload *dialog() const { return m_page->panel()->downloadDialog(); }
    int rowOf(const QString &name) const
    {
        for (int r = 0; r < dialog()->table()->rowCount(); ++r)
            if (dialog()->table()->item(r, QDownload::ColName)->text() == name)
                return r;
        return -1;
    }
    void tick(const QStringList &names)
    {
        for (int r = 0; r < dialog()->table()->rowCount(); ++r)
            dialog()->table()->item(r, QDownload::ColCheck)
                ->setCheckState(names.contains(dialog()->table()->item(r, QDownload::ColName)->text())
                                    ? Qt::Checked
                                    : Qt::Unchecked);
    }
    // What the dialog lists: the page's last search, with some entries
    // replaced or added.
    void offer(const QMap<QString, MEDIA_FILE_S> &changes)
    {
        QMap<QString, MEDIA_FILE_S> map = m_page->panel()->files();
        for (auto it = changes.cbegin(); it != changes.cend(); ++it)
            map.insert(it.key(), it.value());
        dialog()->updateTabelWidget(QByteArray("VRNB-765432-KXPQT"), QByteArray("abc123"), map);
    }
    QPushButton *button(const char *name) const { return dialog()->findChild<QPushButton *>(QLatin1String(name)); }
    QString rowText(const QString &name) const { return dialog()->progressBar(rowOf(name))->text(); }
    // The camera's own copy of a file ("190225_08:10:00.h264" is stored as
    // "190225_08.10.00.h264").
    static QByteArray original(QString name)
    {
        name.replace(QLatin1Char(':'), QLatin1Char('.'));
        QDirIterator it(varno::test::tempRoot() + QStringLiteral("/camera-storage"), {name}, QDir::Files,
                        QDirIterator::Subdirectories);
        QFile f(it.hasNext() ? it.next() : QString());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static QByteArray contents(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
    }
    void download(const QString &name)
    {
        tick({name});
        button("startButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(dialog()->isIdle(), 60000);
    }
    varno::playback::DownloadRecord record(const QString &name) const
    {
        QByteArray file = name.toUtf8();
        file.replace(':', '.');
        for (const auto &r : dialog()->records())
            if (r.fileName == file)
                return r;
        return {};
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<DownloadOutcome>("DownloadOutcome");
        m_storage = std::make_shared<FakeStorage>();
        varno::playback::setStorageAccess(m_storage);
        CFileDownload::setTimeoutMs(1500);
        m_rig.onMessage = onUiThread([this](const P2pMessage_S &msg) {
            if (m_page)
                m_page->recvP2pMessage(msg);
        });
        SimCamera gate;
        gate.count = 4;
        SimCamera yard = yardCamera(1, 4); // an H.265 camera
        yard.codec = QStringLiteral("h265");
        QVERIFY2(m_rig.start({gate, yard}), qPrintable(m_rig.error));
        m_page = new videosearch;
        m_page->setDevInfo(deviceRecord(gate));
        searchCameraDay(m_page->panel(), gate.name);
        QTRY_COMPARE_WITH_TIMEOUT(dialog()->table()->rowCount(), 4, 20000);
        m_folder = varno::test::tempRoot() + QStringLiteral("/downloads");
        dialog()->setDownloadFolder(m_folder);
    }

    void cleanupTestCase()
    {
        delete m_page;
        m_page = nullptr;
        m_rig.stop();
        varno::playback::setStorageAccess(nullptr);
    }

    void downloadAndConvert()
    {
        PromptScript script;
        QVERIFY(dialog()->isIdle());
        QSignalSpy pause(m_page->panel(), &fileplay::SendVideoWinPause);
        tick({QStringLiteral("190225_08:00:00.h264"), QStringLiteral("190225_08:10:00.h264")});
        button("startButton")->click();
        QVERIFY(!dialog()->isIdle());
        QVERIFY(!button("startButton")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(dialog()->isIdle(), 60000);
        QCOMPARE(pause.size(), 2);
        QCOMPARE(pause.first().first().toBool(), true);
        QCOMPARE(pause.last().first().toBool(), false);
        QCOMPARE(script.count(), 0);
        const QString mp4 = m_folder + QStringLiteral("/190225_080000.mp4");
        QVERIFY(QFile::exists(mp4));
        QVERIFY(QFile::exists(m_folder + QStringLiteral("/190225_081000.mp4")));
        QVERIFY(QDir(m_folder).entryList({QStringLiteral("*.tmp")}).isEmpty());
        QCOMPARE(streamsOf(mp4), QStringLiteral("h264 aac 4 s"));
        QCOMPARE(rowText(QStringLiteral("190225_08:00:00.h264")), QStringLiteral("Finished"));
        QCOMPARE(dialog()->progressBar(rowOf(QStringLiteral("190225_08:00:00.h264")))->value(), 100);
        QCOMPARE(dialog()->progressBar(rowOf(QStringLiteral("190225_08:20:00.h264")))->value(), 0);
    }

    // 10 MB stay free: 200 MB with 205 MB free are refused.
    void diskReserve()
    {
        PromptScript script;
        m_storage->freeM = 205;
        MEDIA_FILE_S big{};
        varno::setText(big.fileName, "190225_09.00.00.h264");
        big.size = 200u * 1024 * 1024;
        QMap<QString, MEDIA_FILE_S> map;
        map.insert(QStringLiteral("190225_09:00:00.h264"), big);
        offer(map);
        tick({QStringLiteral("190225_09:00:00.h264")});
        button("startButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(dialog()->isIdle(), 20000);
        QCOMPARE(script.count(), 1);
        QCOMPARE(script.requests().first().title, QStringLiteral("Download"));
        QCOMPARE(script.requests().first().text, QStringLiteral("Download failed, disk is full !"));
        QVERIFY(!QFile::exists(m_folder + QStringLiteral("/190225_090000.mp4")));
        m_storage->freeM = 1e6;
    }

    void folderNotWritable()
    {
        PromptScript script;
        const QString file = varno::test::tempRoot() + QStringLiteral("/plainfile");
        QVERIFY(varno::test::writeFile(file, {}));
        dialog()->setDownloadFolder(file + QStringLiteral("/sub"));
        tick({QStringLiteral("190225_08:20:00.h264")});
        button("startButton")->click();
        QVERIFY(dialog()->isIdle());
        QCOMPARE(script.count(), 1);
        QVERIFY(script.requests().first().text.contains(QLatin1String("cannot be written")));
        dialog()->setDownloadFolder(m_folder);
    }

    // Closing while busy asks; No keeps downloading, Yes stops. Message 73
    // from the camera stops every download.
    void closeAndNotice()
    {
        QCOMPARE(m_rig.sim.command(QStringLiteral("all cut-download 20000")).left(2), QStringLiteral("OK"));
        // Only the user or the camera ends these downloads.
        CFileDownload::setTimeoutMs(600000);
        PromptScript script;
        tick({QStringLiteral("190225_08:20:00.h264")});
        button("startButton")->click();
        QVERIFY(!dialog()->isIdle());
        button("closeButton")->click();
        QCOMPARE(script.count(), 1);
        QCOMPARE(script.requests().first().text, QStringLiteral("It is downloading, are you sure you want to close?"));
        QVERIFY(!dialog()->isIdle());
        script.answer(QMessageBox::Yes);
        button("closeButton")->click();
        // Nothing had started yet: nothing to wait for.
        QVERIFY(dialog()->isIdle());
        QCOMPARE(dialog()->jobCount(), 0);

        button("startButton")->click();
        QVERIFY(!dialog()->isIdle());
        QTRY_VERIFY_WITH_TIMEOUT(dialog()->progressBar(rowOf(QStringLiteral("190225_08:20:00.h264")))->value() > 0,
                                 20000);
        QCOMPARE(m_rig.sim.command(QStringLiteral("all notice 73 0")).left(2), QStringLiteral("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(dialog()->isIdle(), 20000);
        QCOMPARE(dialog()->jobCount(), 0);
        QCOMPARE(rowText(QStringLiteral("190225_08:20:00.h264")), QStringLiteral("Stopped"));
        QCOMPARE(m_rig.sim.command(QStringLiteral("all cut-download 0")).left(2), QStringLiteral("OK"));
        CFileDownload::setTimeoutMs(1500);
    }

    // The download controller without the dialog, its cancellations: a stop
    // while the file flows keeps what arrived (a second start is refused
    // meanwhile); a stop and a destruction while the start waits for a camera
    // that does not answer, on the controller's thread while the window's
    // event loop turns.
    void cancel_data()
    {
        QTest::addColumn<QByteArray>("camera");
        QTest::addColumn<bool>("destroy");
        QTest::newRow("stop while flowing") << QByteArray("VRNB-765432-KXPQT") << false;
        QTest::newRow("stop while starting") << QByteArray("VRNX-000000-NOONE") << false;
        QTest::newRow("destroy while starting") << QByteArray("VRNX-000000-NOONE") << true;
    }
    void cancel()
    {
        QFETCH(QByteArray, camera);
        QFETCH(bool, destroy);
        const bool flowing = camera.startsWith("VRNB");
        QCOMPARE(m_rig.sim.command(QStringLiteral("all cut-download %1").arg(flowing ? 20000 : 0)).left(2),
                 QStringLiteral("OK"));
        // Only the stop ends the transfer.
        CFileDownload::setTimeoutMs(600000);
        auto ctl = std::make_unique<DownloadController>();
        QSignalSpy started(ctl.get(), &DownloadController::started);
        QSignalSpy ended(ctl.get(), &DownloadController::ended);
        QSignalSpy progress(ctl.get(), &DownloadController::progress);
        const QString target = m_folder + QStringLiteral("/cancel-%1.mp4").arg(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-')));
        const DownloadRequest r = request(camera.constData(), "190225_08.10.00.h264", target);
        LoopProbe probe;
        QVERIFY(ctl->start(r));
        QVERIFY(!ctl->start(r));
        if (!flowing) {
            QTRY_VERIFY_WITH_TIMEOUT(probe.ticks >= 20, 10000);
            QVERIFY2(ctl->busy(), "the loop turned only after the start");
        } else {
            // The camera sends 20000 of 111968 bytes (17 %), then nothing.
            QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty() && progress.last().at(1).toInt() >= 17, 30000);
            QCOMPARE(started.count(), 1);
            QCOMPARE(started.first().at(0).toInt(), 2);   // the request's row
            QCOMPARE(started.first().at(1).toInt(), 0);
        }
        if (destroy) {
            QVERIFY(!ctl->shutdown().has_value());   // the start did not get through
            ctl.reset();
        } else {
            ctl->stop();
            QVERIFY(ctl->busy());
            QTRY_VERIFY_WITH_TIMEOUT(!ctl->busy(), 30000);
            if (flowing) {
                QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 30000);
                const DownloadOutcome out = ended.first().at(1).value<DownloadOutcome>();
                QCOMPARE(int(out.state), int(DownloadState::Stopped));
                QCOMPARE(out.kept, 20000u);
            } else {
                // Cancelled before the start was made, or the start failed.
                QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, 30000);
                QVERIFY(started.first().at(1).toInt() != 0);
                QCOMPARE(ended.count(), 0);
            }
        }
        QVERIFY(!QFileInfo::exists(target));
        CFileDownload::setTimeoutMs(1500);
        QCOMPARE(m_rig.sim.command(QStringLiteral("all cut-download 0")).left(2), QStringLiteral("OK"));
    }

    // A job of size 0: no division by it; 0 % while running, 100 % at the end.
    void zeroSize()
    {
        MEDIA_FILE_S zero = m_page->panel()->files().value(QStringLiteral("190225_08:30:00.h264"));
        zero.size = 0;
        QMap<QString, MEDIA_FILE_S> map;
        map.insert(QStringLiteral("190225_08:30:00.h264"), zero);
        offer(map);
        tick({QStringLiteral("190225_08:30:00.h264")});
        button("startButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(dialog()->isIdle(), 30000);
        QCOMPARE(rowText(QStringLiteral("190225_08:30:00.h264")), QStringLiteral("Finished"));
        QVERIFY(QFile::exists(m_folder + QStringLiteral("/190225_083000.mp4")));
        offer({});
    }

    // Stop never waits without end for a worker (here a conversion that
    // does not finish): the dialog is free again and the worker ends later
    // by itself.
    void stopDoesNotHang()
    {
        // The worker outlives this function: what it reads must too.
        static std::atomic<bool> entered{false};
        static std::mutex releaseMutex;
        static std::condition_variable released;
        static bool release = false;
        CFileDownload::setConverter([](const char *, const char *) {
            entered = true;
            std::unique_lock<std::mutex> lock(releaseMutex);
            released.wait(lock, [] { return release; });
            return 0;
        });
        tick({QStringLiteral("190225_08:20:00.h264")});
        button("startButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(entered.load(), 30000);
        button("stopButton")->click();
        // The stop runs on the download controller's thread (up to 5 s for
        // the worker); the button shows it and the window's loop turns.
        QVERIFY(dialog()->stopping());
        QVERIFY(!button("stopButton")->isEnabled());
        QCOMPARE(button("stopButton")->toolTip(), QStringLiteral("Stopping the download..."));
        LoopProbe probe;
        QTRY_VERIFY_WITH_TIMEOUT(dialog()->isIdle(), 20000);
        QVERIFY2(probe.ticks >= 20, qPrintable(QString::number(probe.ticks)));
        QVERIFY(button("stopButton")->isEnabled());
        QCOMPARE(dialog()->jobCount(), 0);
        QVERIFY(varno::test::logText().contains("left to end by itself"));
        const char *const ended = "[DOWNLOAD]Start file(190225_08.20.00.h264) download finished!!!";
        const qsizetype endsBefore = varno::test::logText().count(ended);
        {
            std::lock_guard<std::mutex> lock(releaseMutex);
            release = true;
        }
        released.notify_all();
        // It ends by itself: its fake MP4 is missing, so the camera file stays.
        QTRY_VERIFY_WITH_TIMEOUT(varno::test::logText().count(ended) > endsBefore, 20000);
        QVERIFY(varno::test::logText().contains("Camera file(190225_08.20.00.h264) kept as"));
        CFileDownload::setConverter({});
    }

    // The camera stops sending mid-file (silence until the time-out) or the
    // user stops: the row says so below 100 %, the start of the file stays
    // in "<target>.tmp" and the next start continues from there, byte-exact.
    void stopThenResume_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("userStop");
        QTest::addColumn<QString>("text");
        QTest::newRow("camera stops") << QStringLiteral("190225_08:10:00.h264") << false
                                      << QStringLiteral("Failed: the camera stopped sending");
        QTest::newRow("user stops") << QStringLiteral("190225_08:20:00.h264") << true << QStringLiteral("Stopped");
    }
    void stopThenResume()
    {
        QFETCH(QString, name);
        QFETCH(bool, userStop);
        QFETCH(QString, text);
        const QByteArray whole = original(name);
        QVERIFY(whole.size() > 100000);
        const QString mp4 = m_folder + QLatin1Char('/') + varno::playback::downloadTargetName(name);
        QFile::remove(mp4);
        QCOMPARE(m_rig.sim.command(QStringLiteral("all cut-download 60000")).left(2), QStringLiteral("OK"));
        CFileDownload::setTimeoutMs(userStop ? 600000 : 1500);
        tick({name});
        button("startButton")->click();
        if (userStop) {
            QTRY_COMPARE_WITH_TIMEOUT(dialog()->progressBar(rowOf(name))->value(), int(60000LL * 100 / whole.size()),
                                      20000);
            button("stopButton")->click();
        }
        QTRY_VERIFY_WITH_TIMEOUT(dialog()->isIdle(), 30000);
        QCOMPARE(rowText(name), text);
        QVERIFY(dialog()->progressBar(rowOf(name))->value() < 100);
        QVERIFY(!QFile::exists(mp4));
        // The piece the library had already queued at the stop may be in too.
        const QByteArray kept = contents(mp4 + QStringLiteral(".tmp"));
        QVERIFY2(kept.size() >= 32768 && kept.size() <= 60000, qPrintable(QString::number(kept.size())));
        QVERIFY(whole.startsWith(kept));
        QCOMPARE(record(name).kept, uint32_t(kept.size()));

        QCOMPARE(m_rig.sim.command(QStringLiteral("all cut-download 0")).left(2), QStringLiteral("OK"));
        CFileDownload::setTimeoutMs(1500);
        static QByteArray converted;
        static std::atomic<bool> crashStack{false};   // the worker is covered by the crash handler
        crashStack = false;
        CFileDownload::setConverter([](const char *tmp, const char *target) {
            crashStack = CrashHandlerOnThisThread();
            converted = contents(QString::fromUtf8(tmp));
            return varno::playback::saveMp4(tmp, target);
        });
        download(name);
        CFileDownload::setConverter({});
        QCOMPARE(rowText(name), QStringLiteral("Finished"));
        QVERIFY(crashStack.load());
        QVERIFY(converted == whole);
        QCOMPARE(streamsOf(mp4), QStringLiteral("h264 aac 4 s"));
        QVERIFY(!QFile::exists(mp4 + QStringLiteral(".tmp")));
        QVERIFY(varno::test::logText().contains(
            QStringLiteral("Resume file(%1) from offset(%2)").arg(QString(name).replace(QLatin1Char(':'), QLatin1Char('.'))).arg(kept.size()).toUtf8()));
    }

    // The disk fills mid-file (a small tmpfs; /dev/full where mounting is
    // not allowed): a failed write naming the file and the cause.
    void fullDisk()
    {
        const QString name = QStringLiteral("190225_08:30:00.h264");
        const QString folder = varno::test::tempRoot() + QStringLiteral("/small-disk");
        QVERIFY(QDir().mkpath(folder));
        const QString tmp = folder + QStringLiteral("/190225_083000.mp4.tmp");
        const bool mounted = ::mount("tmpfs", folder.toUtf8().constData(), "tmpfs", 0, "size=64k") == 0;
        if (!mounted)
            QVERIFY(QFile::link(QStringLiteral("/dev/full"), tmp));
        dialog()->setDownloadFolder(folder);
        download(name);
        dialog()->setDownloadFolder(m_folder);
        QCOMPARE(rowText(name),
                 QStringLiteral("Failed: cannot write %1 (No space left on device)").arg(tmp));
        QVERIFY(!QFile::exists(folder + QStringLiteral("/190225_083000.mp4")));
        if (mounted) {
            QVERIFY(original(name).startsWith(contents(tmp)));
            QCOMPARE(::umount(folder.toUtf8().constData()), 0);
        }
        QCOMPARE(record(name).fault, DownloadFault::WriteFailed);
    }

    // A failed conversion keeps the camera file beside the target and the
    // MP4 of an earlier download as it was.
    void converterFails()
    {
        const QString name = QStringLiteral("190225_08:00:00.h264");
        const QString mp4 = m_folder + QStringLiteral("/190225_080000.mp4");
        const QByteArray earlier = contents(mp4);
        QVERIFY(earlier.size() > 1000);
        CFileDownload::setConverter([](const char *, const char *target) {
            QFile part(QString::fromUtf8(target));
            return part.open(QIODevice::WriteOnly) && part.write("half an mp4") > 0 ? -1 : -2;
        });
        download(name);
        CFileDownload::setConverter({});
        const QString kept = m_folder + QStringLiteral("/190225_080000.h264");
        QCOMPARE(rowText(name), QStringLiteral("Failed: conversion to MP4 failed, camera file kept as ") + kept);
        QVERIFY(contents(kept) == original(name));
        QVERIFY(contents(mp4) == earlier);
        QVERIFY(QDir(m_folder).entryList({QStringLiteral("190225_080000.mp4.*")}).isEmpty());
    }

    // A recording of an H.265 camera: an MP4 with an hevc track (the
    // file's header names its codec) of the recording's length, that decodes.
    void h265CameraFile()
    {
        const QString name = QStringLiteral("190225_08:00:00.h264");
        MEDIA_FILE_S entry = m_page->panel()->files().value(name);
        entry.videoType = MEDIA_VIDEO_H265;
        entry.size = uint32_t(QFileInfo(varno::test::tempRoot() + "/camera-storage/C100200/190225_08.00.00.h264").size());
        const QString mp4 = varno::test::tempRoot() + QStringLiteral("/downloads-h265/190225_080000.mp4");
        dialog()->setDownloadFolder(QFileInfo(mp4).path());
        dialog()->updateTabelWidget(QByteArray("VRNC-100200-KXPQT"), QByteArray("pw9999"), {{name, entry}});
        download(name);
        QCOMPARE(rowText(name), QStringLiteral("Finished"));
        dialog()->setDownloadFolder(m_folder);
        offer({});
        QCOMPARE(streamsOf(mp4), QStringLiteral("hevc aac 4 s"));
        QCOMPARE(varno::test::decodeErrors(mp4), QString());
    }

    // The camera dies mid-transfer: the job ends with its time-out, the
    // dialog takes new work, nothing is converted, what arrived is kept.
    void cameraDies()
    {
        QCOMPARE(m_rig.sim.command(QStringLiteral("all cut-download 60000")).left(2), QStringLiteral("OK"));
        const QString name = QStringLiteral("190225_08:10:00.h264");
        QFile::remove(m_folder + QStringLiteral("/190225_081000.mp4"));
        tick({name});
        button("startButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(dialog()->progressBar(rowOf(name))->value() > 0, 20000);
        m_rig.sim.kill();
        QTRY_VERIFY_WITH_TIMEOUT(dialog()->isIdle(), 30000);
        QVERIFY(varno::test::logText().contains("timeout!!!"));
        QVERIFY(button("startButton")->isEnabled());
        QCOMPARE(rowText(name), QStringLiteral("Failed: the camera stopped sending"));
        QVERIFY(!QFile::exists(m_folder + QStringLiteral("/190225_081000.mp4")));
        QVERIFY(original(name).startsWith(contents(m_folder + QStringLiteral("/190225_081000.mp4.tmp"))));
    }

    // A new dialog (a restart) reads the folder and the states and shows them in its rows.
    void stateAcrossRestart()
    {
        QDownload again;
        QCOMPARE(again.downloadFolder(), m_folder);
        QCOMPARE(again.records().size(), 5); // four of Gate, one of Yard
        again.updateTabelWidget(QByteArray("VRNB-765432-KXPQT"), QByteArray("abc123"), m_page->panel()->files());
        for (int r = 0; r < again.table()->rowCount(); ++r) {
            const QString name = again.table()->item(r, QDownload::ColName)->text();
            QCOMPARE(again.progressBar(r)->text(), QDownload::stateText(record(name)));
        }
        QCOMPARE(record(QStringLiteral("190225_08:20:00.h264")).state, DownloadState::Finished);
    }

    // download.db that cannot be read is set aside, never written over; a
    // folder is taken only when it can be made.
    void damagedDb_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<bool>("setAside");
        QTest::addColumn<bool>("keepsFolder");
        QByteArray random(256, '\0');
        for (int i = 0; i < random.size(); ++i)
            random[i] = char((i * 197 + 61) % 251 + 1);
        const QByteArray good = varno::playback::buildDownloadDb(m_folder);
        QTest::newRow("random bytes") << random << true << false;
        QTest::newRow("short") << QByteArray("/home/x") << true << false;
        QTest::newRow("damaged records") << good + QByteArray("VDJ1\x01\0\0\0garbage") << true << true;
        QTest::newRow("folder cannot be made")
            << varno::playback::buildDownloadDb(QStringLiteral("/proc/varno/x")) << false << false;
        QTest::newRow("good") << good << false << true;
    }
    void damagedDb()
    {
        QFETCH(QByteArray, image);
        QFETCH(bool, setAside);
        QFETCH(bool, keepsFolder);
        const QString path = dialog()->dbPath();
        const QByteArray saved = contents(path);
        const QStringList asideFilter{QStringLiteral("download.db.corrupt-*")};
        const QDir dir = QFileInfo(path).dir();
        const int before = int(dir.entryList(asideFilter).size());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(image) == image.size());
        f.close();
        {
            QDownload again;
            QCOMPARE(again.downloadFolder(),
                     keepsFolder ? m_folder : varno::playback::defaultDownloadFolder());
            QCOMPARE(dir.entryList(asideFilter).size(), before + (setAside ? 1 : 0));
            QVERIFY(!setAside || varno::test::logText().contains("cannot be read, set aside as"));
            QCOMPARE(varno::playback::parseDownloadDb(contents(path)), again.downloadFolder());
        }
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(saved) == saved.size());
    }

private:
    std::shared_ptr<FakeStorage> m_storage;
    CameraRig m_rig;
    videosearch *m_page = nullptr;
    QString m_folder;
};

QTEST_MAIN(tst_QDownload)
#include "tst_qdownload.moc"
