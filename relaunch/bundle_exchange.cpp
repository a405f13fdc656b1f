#include "relaunch/bundle_exchange.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace relaunch {

namespace {

namespace fs = std::filesystem;

std::string parentOf(const std::string& path) {
    const std::string parent = fs::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
}

// fsync of one file or folder, opened without following a link; a link itself has nothing to
// flush beyond the folder that names it.
int flushOne(const char* path, bool folder) {
    const int descriptor = ::open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
    if (descriptor < 0) return errno;
    const int result = ::fsync(descriptor) == 0 ? 0 : errno;
    ::close(descriptor);
    return result;
}

// nftw passes no context, and a tree is flushed by one thread at a time per process at most
// (the updater's worker, or the helper), so the first failure is kept per thread.
thread_local int firstFailure = 0;

int flushVisited(const char* path, const struct stat* /*status*/, int type, struct FTW* /*position*/) {
    if (type == FTW_F || type == FTW_DP) {
        if (const int error = flushOne(path, type == FTW_DP)) {
            firstFailure = error;
            return 1;
        }
    } else if (type == FTW_DNR || type == FTW_NS) {
        firstFailure = EACCES;
        return 1;
    }
    return 0;
}

}  // namespace

std::string updateFolderPrefix(const std::string& bundlePath) {
    return "." + fs::path(bundlePath).filename().string() + ".update-";
}

std::string updateFolderFor(const std::string& bundlePath, int processId) {
    return (fs::path(bundlePath).parent_path() / (updateFolderPrefix(bundlePath) + std::to_string(processId))).string();
}

std::string keptBuildFor(const std::string& bundlePath, int processId) {
    return (fs::path(updateFolderFor(bundlePath, processId)) / fs::path(bundlePath).filename()).string();
}

int flushTree(const std::string& path) {
    firstFailure = 0;
    // Depth first, so that a folder is flushed after what it holds; links are not followed.
    const int walked = ::nftw(path.c_str(), flushVisited, 16, FTW_PHYS | FTW_DEPTH);
    if (walked < 0) return errno;
    if (firstFailure) return firstFailure;
    return flushOne(parentOf(path).c_str(), true);
}

int exchangeTrees(const std::string& first, const std::string& second) {
    if (::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) != 0) return errno;
    // The exchange is durable once both folders' entries are on disk. It has happened whatever
    // the flush says: a caller told otherwise would take the exchanged trees for what they were.
    const std::string firstParent = parentOf(first), secondParent = parentOf(second);
    flushOne(firstParent.c_str(), true);
    if (secondParent != firstParent) flushOne(secondParent.c_str(), true);
    return 0;
}

}  // namespace relaunch
