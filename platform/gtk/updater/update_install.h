// The file-system side of an installation, which needs no main loop and may run on a worker
// thread: checking the archive, unpacking it next to the running bundle, judging what came
// out, and the names of the folders that an installation leaves next to the bundle.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>

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

// The temporary folder an installation by process `processId` unpacks into: hidden, next to
// the bundle, so that the final renames stay on one file system.
std::string stagingFolderFor(const std::string& bundlePath, int processId);
// Where process `processId` moves the running bundle during the swap ("Velmora.app.old-<pid>").
std::string asidePathFor(const std::string& bundlePath, int processId);

// Whether the unpacked bundle at `path` is ours and newer: a real folder whose Contents/Info.plist
// names the same identifier and a build after `running`, with the relaunch helper and the main
// program executable. nullopt when fit, else the French reason.
std::optional<std::string> judgeUnpackedBundle(const std::string& path, const RunningCopy& running);

// Checks the archive against the signed offer, unpacks it into a fresh staging folder and
// judges the bundle in it. On failure the staging folder is gone again and the French reason
// is returned; the running bundle is never touched.
std::variant<StagedUpdate, std::string> stageUpdate(std::span<const std::uint8_t> archive, const UpdateFeed& feed,
                                                    const RunningCopy& running);

// Removes a folder and everything in it, without following symbolic links; best effort.
void removeTree(const std::string& path);

// Removes the staging folders and old bundles that earlier installations left next to
// `bundlePath`, those of processes that have ended or of `processId` itself (which has made
// none yet when this runs at its start).
void removeLeftovers(const std::string& bundlePath, int processId);

}  // namespace gtk
