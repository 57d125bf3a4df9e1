// libFuzzer target: "localusr.db" as the login dialog reads it at its start
// (any length, records without terminators, any language number). The
// dialog is built offscreen on the bytes of each input; the remembered
// password it shows must come from the first record's field alone.
#include "client/qlogin.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

QString dbPath()
{
    static const QString path = [] {
        const std::string home = "/tmp/varno-fuzz-localusr." + std::to_string(::getpid());
        ::setenv("XDG_DATA_HOME", home.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        QDir().mkpath(QString::fromStdString(home + "/varno"));
        return QString::fromStdString(home + "/varno/localusr.db");
    }();
    return path;
}

QApplication &app()
{
    static int argc = 1;
    static char name[] = "fuzz_localusr";
    static char *argv[] = {name, nullptr};
    static QApplication *a = new QApplication(argc, argv);
    return *a;
}

} // namespace

// Once, outside the per-input time limit: the first login dialog creates the
// user store with its default account (a deliberately slow password hash),
// which every later dialog then only reads.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    dbPath();
    app();
    QLogin first;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = dbPath();
    app();
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            __builtin_trap();
        f.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    QLogin login;
    const QLineEdit *password = login.findChild<QLineEdit *>(QStringLiteral("passwordEdit"));
    if (!password)
        __builtin_trap();
    // A remembered password is at most the 31 bytes of its field: at most 31
    // characters (bytes that are not UTF-8 read as U+FFFD, three bytes each
    // in UTF-8, so its UTF-8 form may be longer than the field).
    if (password->text().size() > 31)
        __builtin_trap();
    if (size < sizeof(LocalUsr_s) || data[offsetof(LocalUsr_s, remember)] != 1) {
        if (!password->text().isEmpty())
            __builtin_trap();
    }
    return 0;
}
