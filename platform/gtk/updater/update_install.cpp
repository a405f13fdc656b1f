#include "platform/gtk/updater/update_install.h"

#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/foundation/property_list.h"
#include "platform/foundation/text.h"
#include "platform/gtk/updater/archive_check.h"
#include "platform/gtk/updater/archive_unpack.h"
#include "platform/gtk/updater/update_texts.h"
#include "relaunch/bundle_exchange.h"

namespace gtk {

namespace {

namespace fs = std::filesystem;

std::string nameOf(const std::string& path) { return fs::path(path).filename().string(); }
std::string parentOf(const std::string& path) { return fs::path(path).parent_path().string(); }

std::string stagingPrefix(const std::string& bundlePath) { return relaunch::updateFolderPrefix(bundlePath); }
// Where builds before the one-step exchange moved the replaced bundle.
std::string asidePrefix(const std::string& bundlePath) { return nameOf(bundlePath) + ".old-"; }
// Where a staging folder goes, in one rename, before it is deleted: a kept build is then either
// whole under its own name or gone from it, never half deleted where the relaunch helper
// would take it to put it back.
std::string removingPrefix(const std::string& bundlePath) { return "." + nameOf(bundlePath) + ".removing-"; }

bool isExecutableFile(const std::string& path) {
    return g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR) && g_file_test(path.c_str(), G_FILE_TEST_IS_EXECUTABLE);
}

std::optional<foundation::PropertyListDictionary> readInfo(const std::string& bundle) {
    g_autofree char* contents = nullptr;
    gsize length = 0;
    const std::string path = bundle + "/Contents/Info.plist";
    if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr)) return std::nullopt;
    return foundation::readPropertyList({reinterpret_cast<const std::uint8_t*>(contents), length});
}

std::optional<std::string> stringOf(const foundation::PropertyListDictionary& info, const char* key) {
    const auto found = info.strings.find(key);
    if (found == info.strings.end()) return std::nullopt;
    return found->second;
}

// Whether the process that made a leftover is gone, so that its folder is no longer in use.
bool processEnded(int processId) { return kill(processId, 0) != 0 && errno == ESRCH; }

// The process identifier at the end of `name` after `prefix`, or 0 when `name` is not such a name.
int leftoverProcess(const std::string& name, const std::string& prefix) {
    if (!name.starts_with(prefix) || name.size() == prefix.size() || name.size() - prefix.size() > 10) return 0;
    long long value = 0;
    for (const char c : std::string_view(name).substr(prefix.size())) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
    }
    return value > 1 && value <= INT32_MAX ? static_cast<int>(value) : 0;
}

}  // namespace

std::string errorReason(const char* prefix, int error) {
    return std::string(prefix) + g_strerror(error) + update_texts::kDetailSuffix;
}

std::optional<std::string> judgeUnpackedBundle(const std::string& path, const RunningCopy& running) {
    // A symbolic link in the bundle's place would survive the swap and point into the staging
    // folder, which is removed afterwards.
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return std::string(update_texts::kNoBundleInArchive);
    const auto info = readInfo(path);
    if (!info) return std::string(update_texts::kNoBundleInArchive);
    const auto build = stringOf(*info, "CFBundleVersion");
    const auto executable = stringOf(*info, "CFBundleExecutable");
    if (!build || !executable || executable->empty() || executable->find('/') != std::string::npos)
        return std::string(update_texts::kNoBundleInArchive);
    if (stringOf(*info, "CFBundleIdentifier") != running.bundleIdentifier)
        return std::string(update_texts::kOtherApplication);
    // The build inside the archive decides, not the feed's claim: a correctly signed older
    // archive offered under a higher number must not take the place of a newer build.
    if (foundation::numericCompare(*build, running.build) <= 0) return std::string(update_texts::kNotNewer);
    // Without these two the new build could neither be relaunched nor run.
    if (!isExecutableFile(path + "/Contents/MacOS/" + *executable) ||
        !isExecutableFile(path + "/Contents/MacOS/VelmoraRelaunch"))
        return std::string(update_texts::kNoBundleInArchive);
    return std::nullopt;
}

std::variant<StagedUpdate, std::string> unpackUpdate(std::span<const std::uint8_t> archive,
                                                     const RunningCopy& running) {
    StagedUpdate staged{relaunch::updateFolderFor(running.bundlePath, running.processId),
                        relaunch::keptBuildFor(running.bundlePath, running.processId)};
    // A folder of ours from an attempt that failed half-way would mix old files into the new.
    removeTree(staged.folder);
    if (mkdir(staged.folder.c_str(), 0700) != 0) return std::string(update_texts::kNoStagingFolder);

    std::optional<std::string> failure = unpackArchive(archive, staged.folder);
    if (!failure) failure = judgeUnpackedBundle(staged.bundlePath, running);
    if (failure) {
        removeTree(staged.folder);
        return *failure;
    }
    return staged;
}

std::optional<std::string> flushStagedUpdate(const StagedUpdate& staged) {
    if (const int error = relaunch::flushTree(staged.bundlePath))
        return errorReason(update_texts::kFlushFailedPrefix, error);
    return std::nullopt;
}

std::variant<StagedUpdate, std::string> stageUpdate(std::span<const std::uint8_t> archive, const UpdateFeed& feed,
                                                    const RunningCopy& running) {
    if (auto refused = checkArchive(archive, feed)) return *refused;
    auto staged = unpackUpdate(archive, running);
    if (const auto* unpacked = std::get_if<StagedUpdate>(&staged)) {
        if (auto failure = flushStagedUpdate(*unpacked)) {
            removeTree(unpacked->folder);
            return *failure;
        }
    }
    return staged;
}

std::optional<std::string> swapInStagedUpdate(const StagedUpdate& staged, const RunningCopy& running,
                                              const std::function<void()>& exchanged,
                                              const LaunchProgram& launchHelper) {
    if (const int error = relaunch::exchangeTrees(running.bundlePath, staged.bundlePath)) {
        removeTree(staged.folder);
        return errorReason(update_texts::kSwapFailedPrefix, error);
    }
    exchanged();
    // The new build's own helper, from its place: it waits for this process to end and then
    // opens whatever bundle is at the path, now the new one.
    const std::string helper = running.bundlePath + "/Contents/MacOS/VelmoraRelaunch";
    const auto error = launchHelper(helper, {std::to_string(running.processId), running.bundlePath});
    if (!error) return std::nullopt;
    // Nothing would start the new build once this process ends, so the running build goes
    // back in its place.
    if (const int undoError = relaunch::exchangeTrees(running.bundlePath, staged.bundlePath)) {
        // The new build stays in place and the replaced one in the staging folder, where the
        // next launch of the new build removes it.
        return errorReason(update_texts::kSwapFailedPrefix, undoError);
    }
    removeTree(staged.folder);
    return std::string(update_texts::kRelaunchFailedPrefix) + *error + update_texts::kDetailSuffix;
}

std::string bundleFolderOf(const std::string& bundlePath) { return parentOf(bundlePath); }

bool canReplaceBundle(const std::string& bundlePath) {
    return access(parentOf(bundlePath).c_str(), W_OK) == 0 && access(bundlePath.c_str(), W_OK) == 0;
}

void removeTree(const std::string& path) {
    std::error_code ignored;
    // remove_all removes symbolic links themselves and never what they point at.
    fs::remove_all(path, ignored);
}

void removeLeftovers(const std::string& bundlePath, int processId) {
    const std::string parent = parentOf(bundlePath);
    std::error_code error;
    fs::directory_iterator entries(parent.empty() ? "." : parent, error);
    if (error) return;
    const std::string staging = stagingPrefix(bundlePath), aside = asidePrefix(bundlePath),
                      removing = removingPrefix(bundlePath);
    std::vector<fs::path> doomed;
    for (const auto& entry : entries) {
        const std::string name = entry.path().filename().string();
        int owner = 0;
        for (const auto& prefix : {staging, aside, removing})
            if (!owner) owner = leftoverProcess(name, prefix);
        if (owner && (owner == processId || processEnded(owner))) doomed.push_back(entry.path());
    }
    // Folders already on their way out go first, so that their names are free for the others.
    std::stable_partition(doomed.begin(), doomed.end(),
                          [&removing](const fs::path& path) { return path.filename().string().starts_with(removing); });
    for (auto& path : doomed) {
        const std::string name = path.filename().string();
        if (name.starts_with(staging)) {
            fs::path renamed = path.parent_path() / (removing + name.substr(staging.size()));
            fs::rename(path, renamed, error);
            if (error) continue;
            path = std::move(renamed);
        }
        removeTree(path.string());
    }
}

}  // namespace gtk
