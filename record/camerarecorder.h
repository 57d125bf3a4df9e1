#pragma once

#include "common/devicerecords.h"
#include "record/qmediarealrecord.h"

#include <QString>

#include <functional>
#include <memory>

// Starts the recorder of a camera as the live grid asks for it: a P2P
// camera's recorder takes the live stream's frames (the grid pushes them)
// and its stream description; an ONVIF camera gets a second RTSP stream of
// its own, owned by the recorder and closed when it stops. null when the
// camera cannot be recorded (the failure is logged).
namespace varno::record {

using RecordReport = std::function<void(const QString &deviceId, const QString &filePath, int code,
                                        LiveRecorder *recorder)>;

std::unique_ptr<qmediarealrecord> startCameraRecorder(const DvrListInfo_s &dev, int alarmType,
                                                      RecordReport report, RecorderEnv env = {});

// The record information and parameter sets of a P2P stream description
// entry (195 bytes).
void recordInfoFromDescr(const char *entry, const char *deviceId, int alarmType, RECORD_INFO_S *info,
                         RECORD_PARAM_SETS_S *params);

} // namespace varno::record
