// VelmoraRelaunch: started by the application when a newer build has been installed over it,
// with the application's process identifier and bundle path. It waits for that process to end
// and opens the bundle again, so that the build now at that path starts in normal mode. When
// the application's own updater installed that build, the replaced build is kept beside it until
// the new one has launched; should the new one fail to start, the helper puts the replaced
// build back and opens it instead. It has no options, and prints and logs nothing.
#include "launcher/open_bundle.h"
#include "relaunch/bundle_exchange.h"
#include "relaunch/relaunch_core.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string_view> arguments(argv, argv + argc);
    std::error_code error;
    const auto workingDirectory = std::filesystem::current_path(error);
    // Without a working directory only an absolute bundle path can be judged.
    const auto request = relaunch::parseCommandLine(arguments, error ? std::string() : workingDirectory.string());
    if (!request) {
        return relaunch::kUnusable;
    }
    // Checked before the wait, so that a malformed call ends at once.
    if (!std::filesystem::exists(request->bundlePath + "/Contents/Info.plist", error)) {
        return relaunch::kUnusable;
    }

    if (!relaunch::waitForProcessEnd(request->processId)) {
        return relaunch::kWaitRanOut;
    }

    // Read only now: whatever build lies at the path when the old copy has ended is the one
    // that starts. Without arguments the application starts in normal mode, window shown; a
    // copy that is already running is brought forward by the application itself.
    const auto info = companion::readInfoDictionary(request->bundlePath);
    if (!info) {
        return relaunch::kOpenFailed;
    }
    const std::string kept = relaunch::keptBuildFor(request->bundlePath, request->processId);
    if (!std::filesystem::exists(kept + "/Contents/Info.plist", error)) {
        // Installed by other means (the package manager, a copy by hand): nothing to fall back to.
        return companion::startBundleExecutable(request->bundlePath, *info, {}, companion::Activation::activated)
                   ? relaunch::kOpened
                   : relaunch::kOpenFailed;
    }

    const auto child =
        companion::startBundleExecutableAsChild(request->bundlePath, *info, {}, companion::Activation::activated);
    if (child && relaunch::waitForFirstLaunch(*child, kept) != relaunch::FirstLaunch::Failed) {
        return relaunch::kOpened;
    }
    // The new build could not start: the replaced one goes back in its place, in one step, and
    // runs again. The new one stays in the update folder, which the next launch removes.
    if (relaunch::exchangeTrees(request->bundlePath, kept) != 0) {
        return relaunch::kOpenFailed;
    }
    const auto previous = companion::readInfoDictionary(request->bundlePath);
    if (!previous ||
        !companion::startBundleExecutable(request->bundlePath, *previous, {}, companion::Activation::activated)) {
        return relaunch::kOpenFailed;
    }
    return relaunch::kPutBack;
}
