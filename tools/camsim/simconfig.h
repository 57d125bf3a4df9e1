#pragma once

#include "tools/camsim/medialoop.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace varno::camsim {

// The simulator's configuration file (JSON):
//
// {
//   "broker":  { "host": "127.0.0.1", "port": 1883, "user": "", "password": "",
//                "cafile": "" },                     // cafile: TLS with that CA
//   "storage": "/path/of/camera/storage",         // recordings, one folder per camera
//   "cameras": [
//     { "kind": "p2p", "deviceId": "B765432", "p2pId": "VRNB-765432-KXPQT",
//       "name": "Gate", "password": "abc123",
//       "protocol": 3,                                // 1 or 2: a camera of that older version
//       "codec": "h264",                              // or "h265": main and sub stream, recordings
//       "user": "", "userPassword": "",               // own broker credentials (else the broker's)
//       "hd": { "width": 1280, "height": 720, "fps": 25, "kbps": 4000, "noise": 0 },
//       "sd": { "width": 640, "height": 360, "fps": 25, "kbps": 800 },
//       "toneHz": 440,
//       "answerDelayMs": 0,                         // a slow camera: every answer leaves that late
//       "recordings": { "count": 70, "seconds": 10, "first": "2019-02-25 08:00:00",
//                       "intervalSeconds": 600, "form": "extended" },      // or "basic"
//       "alarms": { "count": 20, "first": "2019-02-25 08:00:00", "intervalSeconds": 300 } },
//     { "kind": "onvif", ... }                         // other kinds: their own keys
//   ]
// }
//
// Every camera has a "kind"; each kind reads its own keys from the camera's
// object (raw). Times are local times "yyyy-MM-dd hh:mm:ss"; "first" may also
// be a number of seconds before now ("-3600").

struct BrokerConfig
{
    QString host = QStringLiteral("127.0.0.1");
    int port = 1883;
    QString user;
    QString password;
    QString caFile;   // not empty: TLS, the broker's certificate checked against it
};

struct RecordingPlan
{
    int count = 0;
    int seconds = 4;
    QDateTime first;
    int intervalSeconds = 600;
    bool extendedForm = true;   // replies of type 155 (else 11)
};

struct AlarmPlan
{
    int count = 0;
    QDateTime first;
    int intervalSeconds = 300;
};

struct P2pCameraConfig
{
    QString deviceId;
    QString p2pId;
    QString name;
    QString password;
    int protocol = 3;      // relay protocol version the camera speaks (1, 2 or 3)
    QString brokerUser;    // own broker credentials; empty: the simulator's
    QString brokerPassword;
    VideoSettings hd;
    VideoSettings sd;
    int toneHz = 440;
    bool ptz = false;      // a head that pans, tilts and zooms, with presets
    int answerDelayMs = 0; // answers (and the data they start) leave that much later
    RecordingPlan recordings;
    AlarmPlan alarms;
};

struct CameraEntry
{
    QString kind;
    QJsonObject raw;
};

struct SimConfig
{
    BrokerConfig broker;
    QString storage;
    QList<CameraEntry> cameras;
};

// Reads the file; false with a reason when it is not usable.
bool loadSimConfig(const QString &path, SimConfig &out, QString *error);
bool parseSimConfig(const QByteArray &json, SimConfig &out, QString *error);
// The keys of a camera of kind "p2p".
bool parseP2pCamera(const QJsonObject &raw, P2pCameraConfig &out, QString *error);

} // namespace varno::camsim
