#pragma once

#include "common/devicerecords.h"
#include "common/jobworker.h"
#include "common/p2pmessage.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace varno::device {

// A camera of the add device dialog to ask and store.
struct AddRequest
{
    DvrListInfo_s info{};      // new: ID, IP and service address; listed: the entry with the new addresses
    QString foundName;         // the name of its discovery answer (may be empty)
    QByteArray password;       // asked with (and stored with when taken)
    int listedIndex = -1;      // >= 0: a listed camera seen at a new address (its index in list)
    QList<DvrListInfo_s> list; // the dialog's camera list when asked
};

struct AddResult
{
    enum Outcome { Added, Moved, Refused, Failed };
    Outcome outcome = Failed;
    int ret = 0;               // the failing step's result
    DvrListInfo_s info{};      // Added / Moved: the record as stored
    int listedIndex = -1;
    QByteArray password;       // the password asked with
    bool cancelled = false;    // cancelled after the store changed: keep the record, say nothing
};

// One password check of the manual add in flight.
struct PendingCheck
{
    char name[32];             // camera name as typed (UTF-8)
    char p2pId[64];            // P2P camera ID from the service lookup
    char devId[64];            // camera ID as typed, first letter upper case
    char password[64];
};

// The network and store work of the device dialogs, without widgets: asking
// a camera found by discovery for its configuration (or its P2P license) and
// storing it, the manual add's lookup, connect and password check, and the
// change of a camera's own password. Each dialog owns one.
//
// Every job runs on the controller's worker thread (one after the other, in
// the order asked); its result comes back as a queued signal carrying
// values. cancel() drops the results of everything asked so far; a job that
// has not reached the network or the store yet stops there. The destructor
// cancels and joins the worker (a store rewrite asked still runs): no job
// outlives its dialog.
//
// Threads: every public function on the controller's thread (asserted),
// except pending(), which any thread may read.
class DeviceSetup final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DeviceSetup)

public:
    // Steps of a manual add or a password change that can fail.
    enum Step { LookUp = 1, Connect = 2, Deliver = 3 };

    explicit DeviceSetup(QObject *parent = nullptr);
    ~DeviceSetup() override;

    // Asks the camera (configuration, or license for a P2P camera ID) and
    // stores it: cameraAdded follows.
    void addCamera(const AddRequest &request);
    // Stores a camera not listed yet (list: the dialog's list without it):
    // cameraStored follows with 0 or the store's error (always, also when
    // cancelled: the store may have changed). A cancel does not drop it:
    // the camera has passed its password check and the user was told it is
    // added, so closing the dialog right after must not lose it.
    void storeCamera(const DvrListInfo_s &info, const QList<DvrListInfo_s> &list);
    // Replaces the store by the list (logged as where/line; no result).
    void rewriteList(const QList<DvrListInfo_s> &list, const char *where, int line);

    // Manual add: looks the camera up on the service, connects and sends both
    // password checks. The check is pending (takeCheck) from just before the
    // first is sent; checkSent follows (step 0: both sent, else the failing
    // step and its result; LookUp with 0: the service has no P2P ID for it).
    void checkPassword(const PendingCheck &check);
    // The pending check of the camera that sent this reply, taken out of
    // the table; false when none waits for it.
    bool takeCheck(const P2pMessage_S &reply, PendingCheck *out);
    QList<PendingCheck> pending() const;

    // Connects and sends the change of the camera's password (request 34):
    // changeSent follows with 0 or the failing step and result.
    void changePassword(const QByteArray &devId, const QByteArray &p2pId, const QByteArray &oldPassword,
                        const QByteArray &newPassword);

    void cancel();
    // False: the owner of the camera list (the main window's registry)
    // stores the list the dialog hands it, so the adds, moves and rewrites
    // here write nothing to the store (one writer). Call before the first
    // job; the default writes (a dialog on its own).
    void setWritesStore(bool writes) { m_writesStore = writes; }
    // Jobs asked whose results have not come back (cancelled ones included).
    int jobsInFlight() const { return m_inFlight; }

signals:
    void cameraAdded(varno::device::AddResult result);
    void cameraStored(DvrListInfo_s info, int ret, bool cancelled);
    void checkSent(QString devId, int step, int ret);
    void changeSent(QString devId, int step, int ret);

private:
    // Runs work on the worker; its result (a function run on this thread)
    // reaches deliver with whether it was cancelled meanwhile.
    void run(std::function<std::function<void(bool cancelled)>(const JobToken &)> work);
    AddResult addNew(AddRequest request, const JobToken &token);
    AddResult moveListed(AddRequest request, const JobToken &token);

    uint64_t m_ticket = 0; // results of older tickets are cancelled
    int m_inFlight = 0;
    std::atomic<bool> m_writesStore{true};
    mutable std::mutex m_pendingMutex;
    QList<PendingCheck> m_pending;
    JobWorker m_worker; // last: joined before the rest goes
};

} // namespace varno::device

Q_DECLARE_METATYPE(varno::device::AddResult)
