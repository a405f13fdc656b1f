// Watching for a newer build installed over the running copy, handing over to the relaunch
// helper when one is found, and keeping out of the updater's way once it takes over.
#include <memory>
#include <optional>
#include <string>

#include "app/texts.h"
#include "app/velmora.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/text.h"

namespace velmora {

namespace {

constexpr double kInstalledBuildInterval = 2.0;

// The build number of the bundle as it is on disk now, or nullopt when the information
// property list cannot be read or carries no text build number (for instance mid-replacement).
std::optional<std::string> installedBuild(const platform::Files& files, const std::string& bundlePath) {
    const auto bytes = files.read(bundlePath + "/Contents/Info.plist");
    if (!bytes) return std::nullopt;
    const auto info = foundation::readPropertyList(*bytes);
    if (!info) return std::nullopt;
    const auto version = info->strings.find("CFBundleVersion");
    if (version == info->strings.end()) return std::nullopt;
    return version->second;
}

// The updater installs and relaunches by itself: the watch stops for good so that it never
// races the updater with a second relaunch, and the flag lets the updater's quit through.
void yieldToUpdater(bool& updateInstalling, const std::shared_ptr<platform::Timer>& installedVersionTimer) {
    updateInstalling = true;
    if (installedVersionTimer) installedVersionTimer->invalidate();
}

}  // namespace

void Velmora::startInstalledBuildWatch() {
    installedVersionTimer =
        platform_.timers.scheduleRepeating(kInstalledBuildInterval, weakly([this] { checkInstalledBuild(); }));
}

void Velmora::checkInstalledBuild() {
    if (restartPending) return;
    // The user is in the middle of a dialog; the check is repeated at a later tick.
    if (window && window->hasAttachedSheet()) return;

    const std::string bundlePath = platform_.bundle.bundlePath();
    const std::optional<std::string> installed = installedBuild(platform_.files, bundlePath);
    if (!installed || foundation::numericCompare(*installed, runningBuild) <= 0) {
        newBuildObserved.reset();
        return;
    }
    // The same newer build must be seen at two consecutive ticks: a bundle still being
    // replaced may report a different number at the next one.
    if (newBuildObserved != installed) {
        newBuildObserved = installed;
        return;
    }

    // Without the helper the observation is kept, so the hand-over happens once it is in place.
    const std::string helper = bundlePath + "/Contents/MacOS/VelmoraRelaunch";
    if (!platform_.files.isExecutableFile(helper)) return;
    const std::string pid = std::to_string(platform_.processes.processIdentifier());
    if (const auto error = platform_.processes.launch(helper, {pid, bundlePath})) {
        platform_.log.write(texts::kLogRelaunchUnavailable + *error);
        return;
    }
    // The helper waits for this process to end and then opens the newer build.
    restartPending = true;
    platform_.application.terminate();
}

void Velmora::updaterWillInstallUpdate() { yieldToUpdater(updateInstalling, installedVersionTimer); }

void Velmora::updaterWillRelaunchApplication() { yieldToUpdater(updateInstalling, installedVersionTimer); }

// The old build is still in its place and running: an ordinary quit keeps the process again, and
// the watch resumes, so that a build installed over this copy by other means is still noticed.
void Velmora::updaterDidAbortInstall() {
    if (!updateInstalling || restartPending) return;
    updateInstalling = false;
    newBuildObserved.reset();
    startInstalledBuildWatch();
}

}  // namespace velmora
