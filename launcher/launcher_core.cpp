#include "launcher/launcher_core.h"

#include <filesystem>

namespace launcher {

std::string bundleFromProgramPath(std::string_view programPath, std::string_view workingDirectory) {
    std::filesystem::path path(programPath);
    if (path.is_relative()) {
        path = std::filesystem::path(workingDirectory) / path;
    }
    // Normalising first keeps "./VelmoraBackground" started from Contents/MacOS at the right
    // depth; it is lexical, so a symbolic link on the way is not followed.
    path = path.lexically_normal();
    for (int i = 0; i < kDepthBelowBundle; ++i) {
        path = path.parent_path();
    }
    return path.string();
}

}  // namespace launcher
