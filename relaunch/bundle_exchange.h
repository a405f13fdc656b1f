// Putting an update in the place of a bundle in one step, and the copy of the replaced build that
// an installation keeps until the new build has launched. Shared by the updater, which exchanges,
// and the relaunch helper, which puts the kept build back when the new one does not start.
// POSIX only, so that both programs can use it.
#pragma once

#include <string>

namespace relaunch {

// The hidden folder next to `bundlePath` that the installation by process `processId` unpacks
// into, so that the exchange stays on one file system.
std::string updateFolderFor(const std::string& bundlePath, int processId);
// The name of every such folder up to the process identifier (".Velmora.app.update-").
std::string updateFolderPrefix(const std::string& bundlePath);

// Where the installation by process `processId` keeps the build it replaced: the bundle's own
// name inside that folder, which the exchange fills with the replaced build.
std::string keptBuildFor(const std::string& bundlePath, int processId);

// Writes every file and folder under `path`, and the folder holding it, to disk; 0 on success,
// else the errno value of the first failure.
int flushTree(const std::string& path);

// Exchanges the trees at `first` and `second` in one step (renameat2 with RENAME_EXCHANGE), so
// that each path names a complete tree at every moment, and then asks for both folders holding
// them to be written to disk; 0 once exchanged, else the errno value of the exchange, which
// then changed nothing (EINVAL on a file system that cannot exchange).
int exchangeTrees(const std::string& first, const std::string& second);

}  // namespace relaunch
