#include "client/qlogin.h"
#include "ui_qlogin.h"

#include "common/configfile.h"
#include "common/installdir.h"
#include "common/logfile.h"
#include "common/textfield.h"
#include "common/ui/infobox.h"
#include "platform/userstore/user_local.h"
#include "platform/userstore/userfile.h"
#include "resources/resourcepath.h"

#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLocale>
#include <QNetworkInterface>
#include <QPixmap>
#include <QSettings>
#include <QTimer>
#include <QTranslator>
#include <QtEndian>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kUserInfoSize = USER_LOCAL_INFO_SIZE * USER_LOCAL_MAX_USERS; // 3,200 bytes

const char *const kLanguageFiles[] = {"./language/translate_en.qm", "./language/translate_en2gm.qm"};

// Writes the whole buffer, retrying short writes; false on an error.
bool writeAll(int fd, const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

QLogin::QLogin(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::QLogin)
    , m_userInfo(kUserInfoSize, '\0')
{
    std::memset(m_user, 0, sizeof(m_user));
    std::memset(m_password, 0, sizeof(m_password));
    std::memset(m_localIp, 0, sizeof(m_localIp));

    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    ui->bannerLabel->setPixmap(QPixmap(varno::resourcePath(QStringLiteral("./images/login_banner.png"))));
    ui->userIcon->setPixmap(QPixmap(varno::resourcePath(QStringLiteral("./images/login_user.png"))));
    ui->passwordIcon->setPixmap(QPixmap(varno::resourcePath(QStringLiteral("./images/login_password.png"))));
    // The Return key logs in; the keypad's Enter key arrives in keyPressEvent.
    ui->loginButton->setShortcut(QKeySequence(Qt::Key_Return));
    connect(ui->loginButton, &QPushButton::clicked, this, &QLogin::login_clicked);

    // The settings area starts hidden; the dialog keeps the size of what it shows.
    ui->settingsFrame->hide();
    layout()->activate();
    setFixedSize(sizeHint());

    fillLocalIps();

    openUserStore();

    GetLocalUsr();
    settingsUsable();
    selectRememberedIp();
    connect(ui->usernameEdit, &QLineEdit::editingFinished, this, &QLogin::selectRememberedIp);
    connect(this, &QLogin::SendLanChange, this, &QLogin::RetranslateUi);
}

bool QLogin::openUserStore()
{
    m_storeError = User_local_Init();
    if (m_storeError != 0) {
        WriteLog(2, "%s(%d):User_local_Init failed, ret(%d)!!!", "QLogin::QLogin", __LINE__, m_storeError);
        return false;
    }
    int count = 0;
    if (ui->usernameEdit->text().isEmpty() && User_local_getusrinfo(&count, m_userInfo.data()) == 0 && count > 0)
        ui->usernameEdit->setText(varno::fieldText(m_userInfo.data(), USER_LOCAL_INFO_SIZE));
    return true;
}

QLogin::~QLogin()
{
    // QDialog's destructor hides the window, which takes the focus from the
    // name field and makes it emit editingFinished: by then this object and
    // its ui are gone, so the slot must not run.
    disconnect(ui->usernameEdit, nullptr, this, nullptr);
    User_local_UnInit();
    delete ui;
}

void QLogin::fillLocalIps()
{
    // Addresses of the interfaces that are up, the ones that reach other
    // hosts first; the loopback address last (it serves a single machine).
    QStringList outward;
    QStringList loopback;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        if (!iface.flags().testFlag(QNetworkInterface::IsUp) || !iface.flags().testFlag(QNetworkInterface::IsRunning))
            continue;
        const QList<QNetworkAddressEntry> entries = iface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            QStringList &list = ip.isLoopback() ? loopback : outward;
            if (!list.contains(ip.toString()))
                list.append(ip.toString());
        }
    }
    ui->ipCombo->addItems(outward + loopback);
    if (ui->ipCombo->count() > 1)
        WriteLog(0, "[LOGIN]Client has multiple ip, count(%d)!!!", ui->ipCombo->count());
    ui->ipCombo->setCurrentIndex(ui->ipCombo->count() > 0 ? 0 : -1);
}

void QLogin::SetTranslator(QTranslator *translator, QCoreApplication *app)
{
    m_translator = translator;
    m_app = app;
    if (!m_records.empty()) {
        on_languageCombo_currentIndexChanged(ui->languageCombo->currentIndex());
        return;
    }
    const int index = QLocale::system().language() == QLocale::German ? 1 : 0;
    if (ui->languageCombo->currentIndex() != index)
        ui->languageCombo->setCurrentIndex(index); // applies it
    else
        on_languageCombo_currentIndexChanged(index);
}

void QLogin::GetLocalUsr()
{
    char path[512];
    std::snprintf(path, sizeof(path), "%s/%s", varno::installDir().c_str(), "localusr.db");
    m_path = path;
    m_records.clear();

    FILE *fp = std::fopen(path, "rb");
    if (!fp) {
        // Only a missing file is created; an existing one that cannot be
        // read is left as it is.
        const int err = errno;
        int fd = -1;
        if (err == ENOENT)
            fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            WriteLog(2, "%s(%d):Open file(%s) failed, ret(%d)!!!", "QLogin::GetLocalUsr", 157, path,
                     err == ENOENT ? errno : err);
        else
            ::close(fd);
        return;
    }

    struct stat st {};
    long long size = 0;
    if (::fstat(::fileno(fp), &st) == 0 && S_ISREG(st.st_mode))
        size = st.st_size;
    long long count = size / static_cast<long long>(sizeof(LocalUsr_s));
    WriteLog(0, "[LOGIN]User count is %d!!!", int(count > INT32_MAX ? INT32_MAX : count));
    if (count > kMaxRecords) {
        WriteLog(3, "%s(%d):File(%s) holds %lld users, only %d are read!!!", "QLogin::GetLocalUsr", __LINE__,
                 path, count, kMaxRecords);
        count = kMaxRecords;
    }
    if (count > 0) {
        std::unique_ptr<LocalUsr_s[]> buffer(new (std::nothrow) LocalUsr_s[size_t(count)]);
        if (!buffer) {
            WriteLog(1, "%s(%d):New failed!!!", "QLogin::GetLocalUsr", __LINE__);
        } else {
            // A file that shrank meanwhile yields the whole records read.
            const size_t got = std::fread(buffer.get(), sizeof(LocalUsr_s), size_t(count), fp);
            m_records.assign(buffer.get(), buffer.get() + got);
        }
    }
    std::fclose(fp);

    if (!m_records.empty() && m_records.front().remember == 1) {
        const LocalUsr_s &first = m_records.front();
        ui->passwordEdit->setText(varno::fieldText(first.password));
        ui->rememberCheck->setChecked(true);
        const int32_t language = qFromLittleEndian(first.language);
        if (language == 0 || language == 1) {
            // Applied once the translator is handed over (SetTranslator).
            const QSignalBlocker blocker(ui->languageCombo);
            ui->languageCombo->setCurrentIndex(language);
        }
    }
}

void QLogin::SaveUsrInfo()
{
    LocalUsr_s record;
    std::memset(&record, 0, sizeof(record));
    varno::setText(record.user, m_user);
    const bool remember = ui->rememberCheck->isChecked();
    if (remember)
        varno::setText(record.password, m_password);
    record.remember = remember ? 1 : 0;
    record.language = qToLittleEndian(int32_t(ui->languageCombo->currentIndex()));

    bool found = false;
    for (LocalUsr_s &r : m_records) {
        if (varno::textLength(r.user) == std::strlen(record.user)
            && std::memcmp(r.user, record.user, std::strlen(record.user)) == 0) {
            r = record;
            found = true;
            break;
        }
    }
    if (!found)
        m_records.push_back(record);

    // The new contents go to a temporary file that replaces the old one in
    // one step: a crash while saving never leaves a truncated file.
    // Whatever lies at the temporary name (a leftover, or a link planted
    // there) is removed, and the new file must be created here, not followed.
    const QByteArray temp = m_path + ".tmp";
    ::unlink(temp.constData());
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        WriteLog(2, "%s(%d):Open file(%s) failed, ret(%d)!!!", "QLogin::SaveUsrInfo", 239, m_path.constData(),
                 errno);
        return;
    }
    ::fchmod(fd, 0600);
    bool ok = m_records.empty() || writeAll(fd, m_records.data(), m_records.size() * sizeof(LocalUsr_s));
    ok = ::fsync(fd) == 0 && ok;
    int err = errno;
    ::close(fd);
    if (ok && ::rename(temp.constData(), m_path.constData()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        WriteLog(2, "%s(%d):Write file(%s) failed, ret(%d)!!!", "QLogin::SaveUsrInfo", __LINE__, m_path.constData(),
                 err);
        ::unlink(temp.constData());
    }
}

void QLogin::login_clicked()
{
    // A user store that exists but cannot be read is named, not taken for
    // an empty one (tried again: the operator may have mended it meanwhile).
    if (m_storeError != 0 && !openUserStore()) {
        const QString store = QString::fromStdString(varno::installDir()) + QLatin1Char('/')
            + QString::fromLatin1(varno::userstore::kFileName);
        WriteLog(2, "%s(%d):User store(%s) cannot be read, ret(%d)!!!", "QLogin::login_clicked", __LINE__,
                 store.toUtf8().constData(), m_storeError);
        varno::ui::InfoBox(this, tr("Login"),
                           tr("The user store %1 cannot be read. Check that the file is readable by this user.")
                               .arg(store));
        return;
    }
    const QString name = ui->usernameEdit->text();
    const QString password = ui->passwordEdit->text();
    if (name.isEmpty()) {
        varno::ui::InfoBox(this, tr("Login"), tr("User name can not be empty!"));
        return;
    }
    if (password.isEmpty()) {
        varno::ui::InfoBox(this, tr("Login"), tr("Password can not be empty!"));
        return;
    }

    varno::setText(m_user, name);
    varno::setText(m_password, password);
    varno::setText(m_localIp, ui->ipCombo->currentText());

    const int ret = User_local_login(m_user, m_password);
    if (ret == 0) {
        WriteLog(0, "[LOGIN]User name(%s) login success!!!", m_user);
        SaveUsrInfo();
        if (m_localIp[0] != '\0')
            saveLocalIp();
        if (m_localIp[0] == '\0') {
            WriteLog(3, "%s(%d):Can't get local ip, exit!!!", "QLogin::login_clicked", 380);
            varno::ui::InfoBox(this, tr("Login"), tr("Can't get local ip, exit!"));
            m_accepted = false;
            close();
            return;
        }
        m_accepted = true;
        close();
    } else if (ret == USER_LOCAL_NO_USER) {
        WriteLog(3, "%s(%d):User name(%s) does not exist!!!", "QLogin::login_clicked", 389, m_user);
        varno::ui::InfoBox(this, tr("Login"), tr("Username does not exist!"));
    } else if (ret == USER_LOCAL_BAD_PASSWORD) {
        WriteLog(3, "%s(%d):Password incorrect!!!", "QLogin::login_clicked", 395);
        varno::ui::InfoBox(this, tr("Login"), tr("Password incorrect, please have a check and try again."));
    } else {
        WriteLog(2, "%s(%d):Unknown error!!!", "QLogin::login_clicked", 401);
        varno::ui::InfoBox(this, tr("Login"), tr("Unknown error!"));
    }
}

QString QLogin::loginSettingsPath()
{
    return QString::fromStdString(varno::installDir()) + QStringLiteral("/login.conf");
}

void QLogin::selectRememberedIp()
{
    const QString user = ui->usernameEdit->text();
    if (user.isEmpty() || ui->ipCombo->count() == 0)
        return;
    const std::string file = QFile::encodeName(loginSettingsPath()).toStdString();
    if (m_settingsStuck || varno::checkConfigFile(file, "login.conf") == varno::ConfigFileState::Refused) {
        ui->ipCombo->setCurrentIndex(0);
        return;
    }
    const QSettings settings(loginSettingsPath(), QSettings::IniFormat);
    const QString ip = settings.status() == QSettings::NoError
                           ? settings.value(QStringLiteral("LocalIp/") + user).toString()
                           : QString();
    // An address that is gone (another network, an interface down) falls
    // back to the first one.
    const int index = ip.isEmpty() ? -1 : ui->ipCombo->findText(ip);
    ui->ipCombo->setCurrentIndex(index >= 0 ? index : 0);
}

bool QLogin::settingsUsable()
{
    if (m_settingsStuck)
        return false;
    std::string aside;
    if (!varno::prepareSettingsFile(QFile::encodeName(loginSettingsPath()).toStdString(), "login.conf", &aside)) {
        m_settingsStuck = true; // kept as it is: neither read nor written
        return false;
    }
    if (!aside.empty())
        m_settingsAside = QFile::decodeName(QByteArray::fromStdString(aside));
    return true;
}

void QLogin::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_settingsAside.isEmpty())
        return;
    // Told once, after the dialog is on screen.
    QTimer::singleShot(0, this, [this, aside = std::exchange(m_settingsAside, QString())] {
        varno::ui::InfoBox(this, tr("Login"),
                           tr("The login settings could not be read and were reset. The old file was kept as %1.")
                               .arg(aside));
    });
}

void QLogin::saveLocalIp()
{
    // The file may have been damaged since the dialog read it.
    if (!settingsUsable())
        return;
    QSettings settings(loginSettingsPath(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("LocalIp/") + QString::fromUtf8(m_user), QString::fromUtf8(m_localIp));
    settings.sync();
    if (settings.status() != QSettings::NoError)
        WriteLog(2, "%s(%d):Write file(%s) failed!!!", "QLogin::saveLocalIp", __LINE__,
                 loginSettingsPath().toUtf8().constData());
}

void QLogin::on_cancelButton_clicked()
{
    m_accepted = false;
    close();
}

void QLogin::on_setButton_pressed()
{
    const int areaHeight = ui->settingsFrame->maximumHeight();
    if (ui->settingsFrame->isVisible()) {
        ui->settingsFrame->hide();
        setFixedHeight(height() - areaHeight);
    } else {
        setFixedHeight(height() + areaHeight);
        ui->settingsFrame->show();
    }
}

void QLogin::on_helpButton_pressed()
{
    const QString text = tr("Login Password Instruction:\n") + tr("1. Initial login username: ")
        + QStringLiteral(USER_LOCAL_DEFAULT_NAME) + QLatin1Char('\n') + tr("2. Initial login password: ")
        + QStringLiteral(USER_LOCAL_DEFAULT_PASSWORD) + QLatin1Char('\n')
        + tr("3. Please change the login password later in the software:\n"
             "   Config Management -> Login Password\n")
        + tr("4. In case you forget the login password, please uninstall\n"
             "   and then install the VarnoPC");
    varno::ui::InfoBox(this, tr("Login"), text);
}

void QLogin::on_languageCombo_currentIndexChanged(int index)
{
    if (!m_translator || !m_app) {
        WriteLog(3, "%s(%d):Translator or app is not inited!!!", "QLogin::on_languageCombo_currentIndexChanged",
                 521);
        return;
    }
    WriteLog(0, "[LOGIN]Change language, index(%d)!!!", index);
    if (index != 0 && index != 1)
        return;
    const QString file = varno::resourcePath(QString::fromLatin1(kLanguageFiles[index]));
    if (!m_translator->load(file))
        WriteLog(2, "%s(%d):Load language file(%s) failed!!!", "QLogin::on_languageCombo_currentIndexChanged",
                 __LINE__, kLanguageFiles[index]);
    m_app->installTranslator(m_translator);
    emit SendLanChange();
}

void QLogin::RetranslateUi()
{
    ui->retranslateUi(this);
}

void QLogin::keyPressEvent(QKeyEvent *event)
{
    // Only the keypad's Enter key means something here; Escape in
    // particular does not close the dialog.
    if (event->key() == Qt::Key_Enter) {
        login_clicked();
        return;
    }
    event->ignore();
}
