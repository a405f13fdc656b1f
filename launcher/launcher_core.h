// The decisions of the login launcher that need no system service: where its bundle is and
// what it ends with.
#pragma once

#include <string>
#include <string_view>

namespace launcher {

// The launcher's exit statuses; nothing else is ever returned.
enum ExitStatus : int {
    kDone = 0,        // the application already runs, or it was started
    kUnusable = 2,    // no Info.plist with a bundle identifier at the computed bundle
    kOpenFailed = 4,  // the application's program could not be determined or started
};

// The launcher's program lies two folders below the bundle's top folder
// (Velmora.app/Contents/MacOS/VelmoraBackground).
inline constexpr int kDepthBelowBundle = 3;

// The bundle that contains the program at `programPath`: the path made absolute against
// `workingDirectory`, "." and ".." removed, then its last component removed three times.
// A bare name (no "/") cannot be placed this way: the shell found it through PATH, so the
// caller passes the kernel's /proc/self/exe instead.
std::string bundleFromProgramPath(std::string_view programPath, std::string_view workingDirectory);

}  // namespace launcher
