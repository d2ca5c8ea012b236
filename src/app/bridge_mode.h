// Bridge mode: builds, runs and tears down the FileBridge; interrupts; exit status.
#pragma once

#include <string>

#include "bridge/file_bridge.h"

namespace velmar {

// Bridge mode from start to end: builds the bridge, sets up its data folder
// (the portable directory, or the application-data folder when empty), runs
// it until it fails to connect (unless it reconnects) or is interrupted,
// tears it down, and returns the exit status.
int run_bridge_mode(const std::string& portable_directory, const BridgeOptions& options);

}  // namespace velmar
