#include "app/commandline.h"
#include "client/client.h"
#include "client/instanceguard.h"
#include "client/qlogin.h"
#include "common/crashhandler.h"
#include "common/installdir.h"
#include "common/logfile.h"
#include "common/ui/desktopinfo.h"
#include "resources/resourcepath.h"

#include <QApplication>
#include <QIcon>
#include <QTranslator>

#include <cstring>
#include <memory>

int main(int argc, char *argv[])
{
    // Everything this process creates is the user's only (0600 / 0700).
    varno::keepNewFilesPrivate();
    // --help and --version answer on the terminal, also where no display is.
    if (varno::asksForInformation(argc, argv)) {
        const QCoreApplication info(argc, argv);
        return varno::answerCommandLine(varno::parseCommandLine(QCoreApplication::arguments()));
    }
    auto app = std::make_unique<QApplication>(argc, argv);
    // The toolkit took its own options (-platform, -style, ...); the rest are ours.
    const varno::CommandLine options = varno::parseCommandLine(QCoreApplication::arguments());
    if (options.action != varno::CommandLine::Action::Run)
        return varno::answerCommandLine(options);
    auto translator = std::make_unique<QTranslator>();
    QApplication::setWindowIcon(QIcon(varno::resourcePath(QStringLiteral("./images/varno.png"))));

    // Files relative to the working directory (crash dumps, pictures and
    // translations an installation provides) live in the installation directory.
    const bool inInstallDir = varno::enterInstallDir();

    // The "GBK" and "System" codecs of the 8-bit text: on this platform the
    // local 8-bit encoding is UTF-8 and there is nothing to set.
    WriteLog(0, "[CLIENT]Text codec GBK/System not set: 8-bit text is UTF-8!!!");
    WriteLog(0, "============>Start Varno #compile time:%s #version:%s<============", VARNO_BUILD_DATE_TEXT,
             VARNO_VERSION_TEXT);

    const std::string &dir = varno::installDir();
    WriteLog(0, "Installation directory(%s)!!!", dir.c_str());
    if (!inInstallDir)
        WriteLog(2, "%s(%d):Enter installation directory(%s) failed!!!", "main", __LINE__, dir.c_str());
    QCoreApplication::addLibraryPath(QString::fromLocal8Bit(dir.c_str()) + QStringLiteral("/plugins"));

    InstallCrashHandler();

    // One running client per data folder: a second start brings the first
    // one's window forward and ends.
    varno::client::InstanceGuard instance(QString::fromStdString(dir));
    if (!varno::client::claimDataFolder(instance, translator.get()))
        return 0;

    const QRect desktop = CDesktopInfo::instance()->currentMonitorRect();
    WriteLog(0, "Start Login, desktop(%d,%d,%d,%d)!!!", desktop.left(), desktop.top(), desktop.width(),
             desktop.height());

    auto login = std::make_unique<QLogin>();
    login->move(desktop.left() + (desktop.width() - login->width()) / 2,
                desktop.top() + (desktop.height() - login->height()) / 2);
    login->SetTranslator(translator.get(), app.get());
    login->exec();
    if (!login->isAccepted()) {
        WriteLog(0, "Exit Login ...\n");
        return 0;
    }

    char user[32];
    char password[32];
    char localIp[32];
    std::memset(user, 0, sizeof(user));
    std::memset(password, 0, sizeof(password));
    std::memset(localIp, 0, sizeof(localIp));
    std::memcpy(user, login->userName(), sizeof(user));
    std::memcpy(password, login->password(), sizeof(password));
    std::memcpy(localIp, login->localIp(), sizeof(localIp));
    WriteLog(0, "user(%s), ip(%s)!!!", user, localIp);

    int code = 0;
    {
        Client client(localIp);
        client.userLogin(user);
        client.startP2PRegistration();
        // A wall display starts with every camera it can reach showing.
        if (options.connectAll)
            client.connectAllOnStart();
        client.show();
        WriteLog(0, "Start Client ...!!!");
        code = QApplication::exec();
    }
    std::memset(password, 0, sizeof(password));
    return code;
}
