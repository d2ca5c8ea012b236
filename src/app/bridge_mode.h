#pragma once

#include "app/command_line.h"

namespace velmar {

// Bridge mode from start to end: builds the bridge, sets up its data folder
// (the portable directory, or the application-data folder when empty), runs
// it until it fails to connect (unless it reconnects) or is interrupted,
// tears it down, and returns the exit status.
int run_bridge_mode(const CommandLine& command_line);

}  // namespace velmar
