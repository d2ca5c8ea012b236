#include <sys/stat.h>

#include "platform/filesystem.h"

namespace velmar::platform {

bool create_directory(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }

// POSIX has no share modes: every open file may be opened again meanwhile.
std::ofstream open_shared_output(const std::string& path, std::ios::openmode mode) {
    return std::ofstream(path, mode | std::ios::out);
}

std::ifstream open_shared_input(const std::string& path) { return std::ifstream(path); }

}  // namespace velmar::platform
