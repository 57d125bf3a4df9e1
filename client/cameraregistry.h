#pragma once

#include "common/callabort.h"
#include "common/devicerecords.h"
#include "common/jobworker.h"
#include "common/onvifrecords.h"
#include "common/p2pmessage.h"
#include "platform/p2p/p2p_client_sdk.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace varno::client {

// One camera of the registry as the device tree shows it.
struct RegistryEntry
{
    QString devId;
    QString devName;
    int state = STATE_OFFLINE;   // STATE_E
};

// What a list handed by the add dialog changed (applyList).
struct ListChange
{
    QList<DvrListInfo_s> added;     // new cameras, in list order
    QList<DvrListInfo_s> changed;   // known cameras whose record changed
    QStringList nowOnline;          // known cameras taken as online again
    int refused = 0;                // not added: the list is full
};

// The camera registry without widgets: the camera list and its device tree
// states, the ONVIF discovery results, the probing thread that asks every
// camera whether it is online, the P2P registration thread, and the one
// writer of the camera store.
//
// One lock guards the list and the states; it is never held across a call
// into a library that waits on the network, so any thread may take it
// briefly. The discovery results have a lock of their own, taken before
// the list's when both are held.
//
// The probing thread reports by signals emitted on that thread (receivers
// choose queued or direct connections). requestStop() ends a pass without
// waiting: the request in progress (a SOAP request, a P2P connect) is
// given up at once, the camera's state stays as it was. The destructor
// joins both threads and then writes the store one last time.
//
// The store: every change of the list is written (the whole list, in one
// transaction, passwords enciphered) on the store thread, the latest list
// at the time of the write; a failed write is reported by storeFailed.
//
// Threads: the changes (apply*, remove, setPtzCapability, markRecheck,
// start*, requestStop) on the owner's thread (asserted); lookups on any.
class CameraRegistry final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CameraRegistry)

public:
    // The look of a camera that answers but refuses the stored password.
    static constexpr int kLookRefused = 2;
    // The look of a camera of protocol version 1 that the relay holds
    // offline: it cannot be asked whether it is back.
    static constexpr int kLookUnaskable = 3;

    explicit CameraRegistry(QObject *parent = nullptr);
    ~CameraRegistry() override;

    // Starts the ONVIF event and discovery libraries on the local address
    // and opens the device manager (its store); shutdown() and closeStore()
    // end them. The window calls it once; without it the caller has opened
    // what it uses.
    void openLibraries(const char *localIp);
    // Closes the device manager opened by openLibraries (after the last
    // user of the store has gone).
    void closeStore();

    // Reads the stored cameras (passwords deciphered); every one starts
    // offline. Call once, before the probing starts.
    void load();

    // A copy of the camera list, in list order.
    QList<DvrListInfo_s> deviceList() const;
    QList<RegistryEntry> entries() const;
    bool record(const QString &devId, DvrListInfo_s *out) const;
    // STATE_E of the camera, or -1 when it is not listed.
    int state(const QString &devId) const;
    // The look of its tree item: STATE_E, kLookRefused or kLookUnaskable;
    // -1 when it is not listed.
    int look(const QString &devId) const;
    bool refusesPassword(const QString &devId) const;

    // Discovery results of the latest cycle, and the snapshot of the last
    // completed one.
    QList<DeviceInfo_s> searchResults() const;
    QList<DeviceInfo_s> searchSnapshot() const;
    int discoveryResult(OnvifDiscoveryInfo_s *results, int n, int last);
    static int onDiscoveryResult(OnvifDiscoveryInfo_s *results, int n, int last, void *user);

    // Takes the add dialog's list: new cameras are appended (online) while
    // there is room, known ones take the password and P2P ID it brings, and
    // its address (with the password and configuration asked there) when
    // moved is null or names them; the others keep the address they have
    // here, which probing may have changed since the dialog took its copy.
    // The store follows.
    ListChange applyList(const QList<DvrListInfo_s> &list, const QStringList *moved = nullptr);
    // A changed name, password or stream choice; false when not listed.
    // The store follows.
    bool applyProperty(const DeviceInfo_s &info, DvrListInfo_s *updated);
    // Kept with the record (asked once); the store follows a change.
    void setPtzCapability(const QString &devId, bool ptz);
    // Removes the camera; false when it was not listed. The store follows.
    bool remove(const QString &devId);
    // The next pass asks the camera again (a stream open failed).
    void markRecheck(const QString &devId);

    // Probing: one pass every interval (process-wide, default 5 s).
    void startProbing();
    static void setProbeIntervalMs(int ms);
    // Asks for connectAllDue after the first pass that finds every camera
    // online, or after the third pass.
    void connectAllOnStart();
    // Sets the stop flag of both threads; returns at once.
    void requestStop();
    bool stopRequested() const { return m_stop.load(); }
    // The probing thread runs (started, not ended yet).
    bool probing() const { return m_probing.load(); }
    int probePasses() const { return m_probePasses.load(); }

    // P2P registration on its own thread; the P2P library's handle is
    // published (varno::p2pHandle) once initialised.
    void startP2pRegistration(const char *localIp);
    static void setP2pRetryIntervalMs(int ms);
    static P2P_HANDLE p2pHandle();
    int p2pRegisterAttempts() const { return m_p2pAttempts.load(); }
    static int p2pMessageCallback(int32_t type, const char *payload, int32_t length, const char *cameraId,
                                  void *user);
    // Stops and joins the probing thread and lets the discovery library go
    // (before whatever probing reports to goes).
    void stopProbing();
    // stopProbing, ends the ONVIF libraries openLibraries started, then
    // writes the store a last time (joined); later changes are not stored.
    // The owner calls it while the device manager is open; the destructor
    // does otherwise.
    void shutdown();
    // Ends registration (joined), logs out and releases the P2P library
    // (the destructor, after shutdown).
    void releaseP2p();

    // Writes are done (tests; the store is written on its own thread).
    bool storeIdle() const { return m_storeWorker.idle(); }

signals:
    // Probing thread (direct receivers run there).
    void lookChanged(QString devId, int look);
    void onlineChanged(STATE_E state, DvrListInfo_s record);
    void configChanged(DvrListInfo_s record);
    void operation(QString content);
    void connectAllDue();
    // P2P library thread: a camera message with the owner of its payload.
    void p2pMessage(P2pMessage_S msg, QByteArray payloadOwner);
    // Store thread: the list could not be written (the store keeps the
    // list before).
    void storeFailed(int ret);

private:
    struct P2pRegistration;
    void probeThreadProc();
    void probeOne(const QString &id, int stateBefore);
    bool checkP2pOnline(const QString &devId, bool *unaskable);
    bool probeDevOnlineStatus(const QString &devId, int state, bool *refused);
    void registerP2p(P2pRegistration *reg, QByteArray localIp);
    void requestStore();
    // Lookups; the caller holds m_mutex.
    int devIndexOf(const QString &devId) const;
    int entryIndexOf(const QString &devId) const;
    int lookLocked(int entry) const;

    mutable std::mutex m_mutex;
    QList<DvrListInfo_s> m_devList;     // guarded by m_mutex
    QList<RegistryEntry> m_entries;     // guarded by m_mutex
    QSet<QString> m_unaskable;          // guarded by m_mutex
    QSet<QString> m_authRefused;        // guarded by m_mutex
    QSet<QString> m_recheck;            // guarded by m_mutex
    std::atomic<bool> m_recheckAll{false};

    mutable std::mutex m_searchMutex;
    QList<DeviceInfo_s> m_searchList;   // guarded by m_searchMutex
    std::unique_ptr<DeviceInfo_s[]> m_searchBuf;
    std::unique_ptr<DeviceInfo_s[]> m_snapBuf;
    int m_searchCount = 0;
    int m_snapCount = 0;
    bool m_cycleComplete = false;

    std::atomic<bool> m_stop{false};
    CallAbort m_callAbort;              // raised with m_stop: ends the probing thread's request
    std::mutex m_stopMutex;
    std::condition_variable m_stopCv;
    std::atomic<bool> m_probing{false};
    std::atomic<int> m_connectAllPasses{-1};
    std::atomic<int> m_probePasses{0};
    std::atomic<int> m_p2pAttempts{0};
    std::thread m_probeThread;

    std::unique_ptr<P2pRegistration> m_p2p;   // the registration thread
    std::atomic<bool> m_storeQueued{false};
    bool m_shutDown = false;
    bool m_librariesOpen = false;
    bool m_storeOpen = false;
    JobWorker m_storeWorker;            // after the lists: joined before they go
};

} // namespace varno::client
