// The decisions of the relaunch helper that need no system service beyond the process table:
// which command lines it accepts and how long it waits for the old copy to end.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace relaunch {

// The helper's exit statuses; nothing else is ever returned.
enum ExitStatus : int {
    kOpened = 0,      // the bundle was opened
    kUnusable = 2,    // wrong arguments, or the path names no application bundle
    kWaitRanOut = 3,  // the old process was still there when the wait ended; nothing opened
    kOpenFailed = 4,  // the bundle's program could not be determined or started
    kPutBack = 5,     // the new build did not start; the build it replaced is back and opened
};

// What a valid command line asks for.
struct Request {
    std::int32_t processId = 0;
    std::string bundlePath;  // absolute, standardised, without a trailing separator
};

// How long the helper waits for the old process and how often it looks.
struct WaitLimits {
    std::chrono::duration<double> limit{60.0};
    std::chrono::duration<double> pause{0.15};
};

// Converts `text` to a process identifier when it is a signed 32-bit decimal (optional sign,
// ASCII digits only, nothing around them) greater than 1; nullopt otherwise.
std::optional<std::int32_t> parseProcessId(std::string_view text);

// Makes `path` absolute against `workingDirectory` and removes ".", ".." and repeated or
// trailing separators; nullopt when `path` is empty, or relative with `workingDirectory` not
// absolute.
std::optional<std::string> standardisePath(std::string_view path, std::string_view workingDirectory);

// True when the last component of the standardised `path` has the extension "app", exactly.
bool namesApplicationBundle(std::string_view path);

// Judges the whole command line (program path first); nullopt means the helper must end with
// kUnusable. The check for the bundle's Info.plist on disk is left to the caller.
std::optional<Request> parseCommandLine(std::span<const std::string_view> arguments, std::string_view workingDirectory);

// Blocks until `processId` can no longer be signalled (true) or until `limits.limit` has passed
// with the process still there (false), looking every `limits.pause`.
bool waitForProcessEnd(std::int32_t processId, const WaitLimits& limits = {});

// How the first launch of a new build went, as far as the helper can see.
enum class FirstLaunch {
    Launched,  // the build it replaced is no longer kept (the new build removes it once launched),
               // or the program ended successfully (for instance, handing over to a running copy)
    Failed,    // the program ended with a failure or a signal, the replaced build still kept
    Unknown,   // still running, the replaced build still kept, when the wait ran out
};

// Watches `child` (a child process, which this reaps when it ends) until the replaced build at
// `keptBuild` is gone, the child ends, or `limits.limit` has passed.
FirstLaunch waitForFirstLaunch(int child, const std::string& keptBuild, const WaitLimits& limits = {});

}  // namespace relaunch
