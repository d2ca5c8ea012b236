// The name of the program's folder in the application-data folder.
#pragma once

#include <string_view>

namespace velmar {

// The bridge's folder under the per-user application-data folder: recordings,
// the aircraft diagnostic file, and the data folder when none is given.
inline constexpr std::string_view kAppFolderName = "Velmar";

}  // namespace velmar
