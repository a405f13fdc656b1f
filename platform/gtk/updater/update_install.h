// The file-system side of an installation, which needs no main loop and may run on a worker
// thread: checking the archive, unpacking it next to the running bundle, judging what came
// out, and the names of the folders that an installation leaves next to the bundle.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "platform/gtk/updater/update_feed.h"
#include "platform/gtk/updater/update_settings.h"

namespace gtk {

// The folder name an update archive gives the bundle at its top.
inline constexpr const char* kArchivedBundleName = "Velmora.app";

// What the running copy is, as far as an installation needs to know.
struct RunningCopy {
    std::string bundlePath;  // "…/Velmora.app"
    std::string build;       // its CFBundleVersion
    std::string bundleIdentifier;
    int processId = 0;
};

// An archive unpacked and judged fit, waiting to be swapped in.
struct StagedUpdate {
    std::string folder;      // the temporary folder next to the running bundle
    std::string bundlePath;  // the new bundle inside it
};

// Whether the unpacked bundle at `path` is ours and newer: a real folder whose Contents/Info.plist
// names the same identifier and a build after `running`, with the relaunch helper and the main
// program executable. nullopt when fit, else the French reason.
std::optional<std::string> judgeUnpackedBundle(const std::string& path, const RunningCopy& running);

// Unpacks `archive` into a fresh staging folder next to the running bundle and judges the bundle
// in it. On failure the staging folder is gone again and the French reason is returned; the
// running bundle is never touched.
std::variant<StagedUpdate, std::string> unpackUpdate(std::span<const std::uint8_t> archive, const RunningCopy& running);

// Writes the staged bundle to disk, every file and folder of it, so that it is whole after a
// power loss once it has taken the running bundle's place; nullopt, else the French reason.
std::optional<std::string> flushStagedUpdate(const StagedUpdate& staged);

// Checks the archive against the signed offer, unpacks it, judges it and writes it to disk:
// what runs on a worker thread before the swap. On failure nothing is left of it.
std::variant<StagedUpdate, std::string> stageUpdate(std::span<const std::uint8_t> archive, const UpdateFeed& feed,
                                                    const RunningCopy& running);

// Starts a program with arguments, detached; nullopt once started, else the reason.
using LaunchProgram =
    std::function<std::optional<std::string>(const std::string& program, const std::vector<std::string>& arguments)>;

// Exchanges the staged bundle with the running one in one step, calls `exchanged`, and starts the
// new build's relaunch helper with this process's identifier and the bundle path. The replaced
// build is left in the staging folder, where the helper puts it back should the new build fail
// to start, and which the new build removes once it has launched. When the helper cannot be
// started the exchange is undone. nullopt, else the French reason; on failure the staging
// folder is gone unless it is the one place left that holds the replaced build.
std::optional<std::string> swapInStagedUpdate(const StagedUpdate& staged, const RunningCopy& running,
                                              const std::function<void()>& exchanged,
                                              const LaunchProgram& launchHelper);

// The folder that holds the bundle at `bundlePath`.
std::string bundleFolderOf(const std::string& bundlePath);
// Whether this user may put another folder in the place of the bundle: the staging folder and
// the exchange both write next to it.
bool canReplaceBundle(const std::string& bundlePath);

// Removes a folder and everything in it, without following symbolic links; best effort.
void removeTree(const std::string& path);

// Removes the staging folders, with the builds they keep, and the old bundles that earlier
// installations left next to `bundlePath`: those of processes that have ended or of `processId`
// itself. Run once a build has launched, it ends the keeping of the build it replaced.
void removeLeftovers(const std::string& bundlePath, int processId);

}  // namespace gtk
