#include "relaunch/relaunch_core.h"

#include <sys/wait.h>
#include <algorithm>
#include <charconv>
#include <csignal>
#include <filesystem>

#include <system_error>
#include <thread>

namespace relaunch {

std::optional<std::int32_t> parseProcessId(std::string_view text) {
    // std::from_chars alone would accept a leading "-" but refuse "+", and stops quietly at
    // the first foreign character, so the shape is checked here before it converts.
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        digits.remove_prefix(1);
    }
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const std::string_view number = text.front() == '+' ? digits : text;
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size()) {
        return std::nullopt;  // beyond the 32-bit range
    }
    if (value <= 1) {
        return std::nullopt;  // 0 would signal our own process group, 1 is init
    }
    return value;
}

std::optional<std::string> standardisePath(std::string_view path, std::string_view workingDirectory) {
    // Purely lexical, like the standardised file URLs the helper is asked to reopen: symbolic
    // links are not resolved, so ".." after a link leads to the link's parent.
    if (path.empty()) {
        return std::nullopt;  // an empty argument is a caller's slip, not "the working directory"
    }
    std::filesystem::path full(path);
    if (full.is_relative()) {
        const std::filesystem::path base(workingDirectory);
        if (!base.is_absolute()) {
            return std::nullopt;
        }
        // Joined as text and parsed again rather than with operator/: a base made only of
        // separators ("//") stays the root directory as written, and lexically_normal leaves
        // that text alone, so "Velmora.app" in "//" would come out as "//Velmora.app".
        full = std::filesystem::path(base.string() + "/" + full.string());
    }
    std::string text = full.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

bool namesApplicationBundle(std::string_view path) {
    // A name made only of the extension (".app") is a hidden file's name, not a bundle name
    // with an extension, so it has none, as std::filesystem also reads it.
    return std::filesystem::path(path).filename().extension() == ".app";
}

std::optional<Request> parseCommandLine(std::span<const std::string_view> arguments,
                                        std::string_view workingDirectory) {
    if (arguments.size() != 3) {
        return std::nullopt;
    }
    const auto processId = parseProcessId(arguments[1]);
    if (!processId) {
        return std::nullopt;
    }
    auto bundlePath = standardisePath(arguments[2], workingDirectory);
    if (!bundlePath || !namesApplicationBundle(*bundlePath)) {
        return std::nullopt;
    }
    return Request{*processId, std::move(*bundlePath)};
}

bool waitForProcessEnd(std::int32_t processId, const WaitLimits& limits) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(limits.limit);
    // kill with signal 0 only asks whether the process exists and may be signalled; either
    // "no such process" or "not permitted" means there is nothing left to wait for.
    while (::kill(static_cast<pid_t>(processId), 0) == 0) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(limits.pause);
    }
    return true;
}

FirstLaunch waitForFirstLaunch(int child, const std::string& keptBuild, const WaitLimits& limits) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(limits.limit);
    const auto kept = [&keptBuild] {
        std::error_code error;
        return std::filesystem::exists(keptBuild, error) || error;
    };
    for (;;) {
        if (!kept()) return FirstLaunch::Launched;
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) {
            // Looked at again: the build may have launched and removed it just before it ended.
            if (!kept() || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) return FirstLaunch::Launched;
            return FirstLaunch::Failed;
        }
        if (Clock::now() > deadline) return FirstLaunch::Unknown;
        std::this_thread::sleep_for(limits.pause);
    }
}

}  // namespace relaunch
