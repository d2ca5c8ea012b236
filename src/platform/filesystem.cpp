#include "platform/filesystem.h"

namespace velmar::platform {

std::string join_path(std::string_view folder, std::string_view name) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder);
    path.push_back(kPathSeparator);
    path.append(name);
    return path;
}

}  // namespace velmar::platform
