// --export RECORDING OUTPUT: a recording turned into a file people can look at.
#pragma once

#include <string>

namespace velmar {

// Writes `output` from `recording` in the format its extension names, whole
// or not at all (a temporary file beside it, renamed at the end). Prints one
// line on success and one naming the file (and line) on failure. Returns the
// exit status: 0, or 1 on failure. Never touches the simulator or a data folder.
int run_export_mode(const std::string& recording, const std::string& output);

}  // namespace velmar
