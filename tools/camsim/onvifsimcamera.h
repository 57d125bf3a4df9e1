#pragma once

#include "tools/camsim/simcamera.h"

namespace varno::camsim {

// Camera kind "onvif": one set of simulated ONVIF cameras behind one
// discovery port (COnvifSimulation), listed in one configuration entry:
//
//   { "kind": "onvif", "id": "onvif", "discoveryPort": 3702,
//     "cameras": [ { "uuid": "...", "name": "Hall", "password": "admin",
//                    "httpPort": 8081 }, ... ] }
//
// "discoveryPort" and "httpPort" 0 (or left out) take free ports. Control
// commands: "list" (one "<uuid> <service address>" per camera),
// "offline <n>" / "online <n>" (discovery answers of camera n).
void registerOnvifCameraKind();

} // namespace varno::camsim
