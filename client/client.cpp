#include "client/client.h"
#include "ui_client.h"

#include "common/installdir.h"
#include "common/logfile.h"
#include "common/metatypes.h"
#include "common/textfield.h"
#include "common/ui/desktopinfo.h"
#include "common/ui/infobox.h"
#include "device/passwordcipher.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "resources/resourcepath.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QTimer>

#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr size_t kPasswordSize = sizeof(DeviceInfo_s::password); // 64

} // namespace

Client::Client(const char *localIp, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::Client)
{
    std::memset(m_localIp, 0, sizeof(m_localIp));
    std::memset(m_user, 0, sizeof(m_user));
    varno::setText(m_localIp, localIp);

    ui->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint); // 0x4800
    m_stop = false;
    ui->logoLabel->setPixmap(QPixmap(varno::resourcePath(QStringLiteral("./images/varno.png"))));
    ui->btnWinMin->setIcon(QIcon(varno::resourcePath(QStringLiteral("./images/Sys_Min.png"))));
    ui->btnWinClose->setIcon(QIcon(varno::resourcePath(QStringLiteral("./images/Sys_Close.png"))));

    const int ret = SDK_DVRMGR_Init(varno::installDir().c_str());
    if (ret != 0)
        WriteLog(2, "%s(%d):SDK_DVRMGR_Init failed, ret(%d)!!!", "Client::Client", 63, ret);
    loadDevices();

    // The records travel in queued signals.
    varno::registerMetaTypes();

    // Operation-log entries go to the device manager's store.
    connect(this, &Client::sendLogInfo, this, [](LogInfo_s info) {
        const int result = SDK_DVRMGR_WriteLog(info);
        if (result != 0)
            WriteLog(2, "%s(%d):Write operation log failed, ret(%d)!!!", "Client::sendLogInfo", __LINE__, result);
    }, Qt::DirectConnection);

    m_formSize = size();
    setGeometry(CDesktopInfo::instance()->currentMonitorRect());
    setMaximizedLook(true);
    std::memset(m_user, 0, sizeof(m_user));
}

Client::~Client()
{
    storeDevices();
    SDK_DVRMGR_UnInit();
    delete ui;
}

void Client::loadDevices()
{
    std::unique_ptr<DeviceInfo_s[]> records(new (std::nothrow) DeviceInfo_s[kMaxDevices]());
    if (!records) {
        WriteLog(1, "%s(%d):New failed!!!", "Client::Client", __LINE__);
        return;
    }
    int count = 0;
    const int ret = SDK_DVRMGR_GetDevInfo(records.get(), &count);
    if (ret != 0)
        WriteLog(2, "%s(%d):GetDevInfo failed, ret(%d)!!!", "Client::Client", 77, ret);
    if (count < 0)
        count = 0;
    if (count > kMaxDevices)
        count = kMaxDevices;

    std::lock_guard<std::mutex> lock(m_devListMutex);
    for (int i = 0; i < count; ++i) {
        DvrListInfo_s entry;
        std::memset(&entry, 0, sizeof(entry));
        entry.dev = records[size_t(i)];
        // The stored field may fill all 64 bytes: hand the cipher a
        // terminated copy.
        char cipherText[kPasswordSize + 1] = {};
        std::memcpy(cipherText, entry.dev.password, kPasswordSize);
        char plain[kPasswordSize] = {};
        if (decode(cipherText, plain) == 0) {
            std::memset(entry.dev.password, 0, kPasswordSize);
            std::memcpy(entry.dev.password, plain, kPasswordSize);
        }
        m_devList.append(entry);
    }
}

void Client::storeDevices()
{
    // The whole list is rewritten in one transaction: a crash at any point
    // leaves either the old list or the new one in the store.
    int ret = SDK_DVRMGR_BeginRewrite();
    if (ret != 0) {
        WriteLog(2, "%s(%d):Begin rewrite failed, ret(%d)!!!", "Client::~Client", __LINE__, ret);
        return;
    }
    ret = SDK_DVRMGR_DelDevAll();
    if (ret != 0) {
        WriteLog(2, "%s(%d):DelDevAll failed, ret(%d)!!!", "Client::~Client", __LINE__, ret);
        SDK_DVRMGR_RollbackRewrite();
        return;
    }
    QList<DvrListInfo_s> list;
    {
        std::lock_guard<std::mutex> lock(m_devListMutex);
        list = m_devList;
    }
    for (const DvrListInfo_s &entry : std::as_const(list)) {
        DeviceInfo_s dev = entry.dev;
        char plain[kPasswordSize + 1] = {};
        std::memcpy(plain, dev.password, kPasswordSize);
        char cipherText[kPasswordSize] = {};
        if (encode(plain, cipherText) == 0) {
            std::memset(dev.password, 0, kPasswordSize);
            std::memcpy(dev.password, cipherText, kPasswordSize);
        }
        if (SDK_DVRMGR_AddDevice(dev) != 0)
            WriteLog(2, "%s(%d):Add device(%s) to file error!!!", "Client::~Client", 199,
                     varno::fieldText(dev.devId).toUtf8().constData());
    }
    ret = SDK_DVRMGR_CommitRewrite();
    if (ret != 0) {
        WriteLog(2, "%s(%d):Commit rewrite failed, ret(%d)!!!", "Client::~Client", __LINE__, ret);
        SDK_DVRMGR_RollbackRewrite();
    }
}

QList<DvrListInfo_s> Client::deviceList() const
{
    std::lock_guard<std::mutex> lock(m_devListMutex);
    return m_devList;
}

void Client::userLogin(const char *user)
{
    std::memset(m_user, 0, sizeof(m_user));
    varno::setText(m_user, user);
    recordOperation("User login");
}

void Client::recordOperation(const char *content)
{
    LogInfo_s info;
    std::memset(&info, 0, sizeof(info));
    varno::setText(info.time, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    varno::setText(info.user, m_user);
    varno::setText(info.content, content);
    emit sendLogInfo(info);
}

void Client::on_btnWinMin_clicked()
{
    showMinimized();
}

void Client::on_btnWinMax_clicked()
{
    const QRect monitor = CDesktopInfo::instance()->currentMonitorRect();
    if (m_maximized) {
        const int x = monitor.left() + (monitor.width() - m_formSize.width()) / 2;
        const int y = monitor.top() + (monitor.height() - m_formSize.height()) / 2;
        setGeometry(x, y, m_formSize.width(), m_formSize.height());
        setMaximizedLook(false);
    } else {
        setGeometry(monitor);
        setMaximizedLook(true);
    }
}

void Client::on_btnWinClose_clicked()
{
    if (m_closing || m_asking)
        return;
    m_asking = true;
    const bool confirmed = varno::ui::InfoBox(this, tr("PC Client"), tr("Are you sure to close the client?"), true)
        == QMessageBox::Yes;
    m_asking = false;
    if (!confirmed)
        return;
    m_closing = true;
    hide();
    emit sendWinCloseSignal();
    recordOperation("User exit");
    m_stop = true;
    close();
    // The window is hidden already, so closing it may not end the loop by itself.
    QCoreApplication::quit();
    WriteLog(0, "============>Stop Varno<============\n");
}

void Client::setMaximizedLook(bool maximized)
{
    m_maximized = maximized;
    ui->btnWinMax->setIcon(QIcon(varno::resourcePath(
        maximized ? QStringLiteral("./images/Sys_Restore.png") : QStringLiteral("./images/Sys_Max.png"))));
    ui->btnWinMax->setToolTip(maximized ? tr("Restore Down") : tr("Maximize"));
}

bool Client::inTitleArea(const QPoint &pos) const
{
    return pos.y() >= 0 && pos.y() < ui->titleFrame->height();
}

void Client::keyPressEvent(QKeyEvent *event)
{
    // Return, Enter and Escape never close the main window.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void Client::closeEvent(QCloseEvent *event)
{
    if (m_closing) {
        QDialog::closeEvent(event);
        return;
    }
    // A close from outside (window manager, Alt+F4) asks like the close button.
    event->ignore();
    QTimer::singleShot(0, this, &Client::on_btnWinClose_clicked);
}

void Client::reject()
{
    if (m_closing)
        QDialog::reject();
}

void Client::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragging = true;
        m_pressOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    }
    QDialog::mousePressEvent(event);
}

void Client::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton) && inTitleArea(m_pressOffset)
        && !(windowState() & Qt::WindowMaximized))
        move(event->globalPosition().toPoint() - m_pressOffset);
    QDialog::mouseMoveEvent(event);
}

void Client::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}

void Client::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && inTitleArea(event->position().toPoint()))
        on_btnWinMax_clicked();
    QDialog::mouseDoubleClickEvent(event);
}
