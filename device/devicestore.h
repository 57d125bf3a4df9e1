#pragma once

#include "common/devicerecords.h"
#include "common/jobworker.h"

#include <QByteArray>
#include <QList>

#include <cstdint>

// Helpers shared by the device dialogs: the stored camera list with its
// password cipher, lookups, the camera ID rule and the P2P connect loop.
namespace varno::device {

// Reads the stored cameras (at most kMaxDevices) with every password
// deciphered; a password that does not decipher stays as read. A failed
// read is logged "<where>(<line>):GetDevInfo failed, ret(%d)!!!" and the
// records returned so far are kept.
QList<DvrListInfo_s> readStoredDevices(const char *where, int line);

// The record as it is stored: the password field enciphered when the cipher
// takes it (the 64th byte stays zero), else the plain password.
DeviceInfo_s storedForm(const DeviceInfo_s &info);

// Replaces the stored list by the given one in one transaction (the store
// never holds a half-written list). A camera that cannot be stored is
// logged "<where>(<line>):Add device(%s) failed, ret(%d)!!!" at failLevel
// and the others follow. Returns the number of cameras stored, or a
// negative result when the store could not be rewritten at all (logged).
int rewriteStore(const QList<DvrListInfo_s> &list, const char *where, int line, int failLevel);

// Index of the camera with this device ID (exact comparison), or -1.
int indexOfDevice(const QList<DvrListInfo_s> &list, const char *devId);

// A device ID of the P2P form: exactly 7 characters, the first a letter.
bool isP2pCameraId(const QByteArray &id);

// True when a message's device ID (a 32-byte field, cut to 31 characters)
// names the camera with this P2P camera ID.
bool sameP2pId(const char *messageId, const char *p2pId);

struct ConnectNames
{
    const char *function;    // "QManualDial::connectDevice"
    const char *nullHandle;  // "%s(%d):handle is NULL!!!"
    int waitMs;              // between two tries while the camera answers -208
};

// A connect given up because its job was cancelled.
constexpr int kConnectCancelled = -102;   // varno::p2p::kSessionGivenUp

// The device dialogs' connect (over varno::p2p::ensureSession): 0 when the session
// with the camera is (or becomes) connected, -101 without a library handle,
// kConnectCancelled when the job was cancelled, else the library's result.
// A connect that answers "connecting" (-208) is tried again up to 3 times,
// names.waitMs apart (a pause that a cancel ends). It waits on the network:
// never call it on the user-interface thread (asserted).
int connectPeer(intptr_t handle, const char *p2pId, const ConnectNames &names, const JobToken &token);

// The 32-bit signed value at offset in a message payload, or fallback when
// the payload is too short to hold it.
int32_t payloadInt(const char *payload, int32_t length, int offset, int32_t fallback);

} // namespace varno::device
