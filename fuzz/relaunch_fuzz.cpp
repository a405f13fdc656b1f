// The relaunch helper's command-line checks from any bytes. The input is split at NUL bytes,
// which no argument can hold: the first field is the working directory, the rest the
// arguments, program path first. Whatever is accepted names an application bundle by a
// standardised absolute path and a process the helper may wait for.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/require.h"
#include "relaunch/relaunch_core.h"

namespace {

using fuzzing::require;

std::vector<std::string_view> fieldsOf(std::string_view text) {
    std::vector<std::string_view> fields;
    while (true) {
        const std::size_t end = text.find('\0');
        fields.push_back(text.substr(0, end));
        if (end == std::string_view::npos) return fields;
        text.remove_prefix(end + 1);
    }
}

bool isStandardised(std::string_view path) {
    if (path.empty() || path.front() != '/') return false;
    if (path.size() > 1 && path.back() == '/') return false;
    if (path.find("//") != std::string_view::npos) return false;
    // No "." or ".." component.
    std::size_t start = 1;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view component = path.substr(start, end - start);
        if (component == "." || component == "..") return false;
        start = end + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = fieldsOf(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string_view workingDirectory = fields.front();
    const std::vector<std::string_view> arguments(fields.begin() + 1, fields.end());

    for (const auto& argument : arguments) {
        if (const auto pid = relaunch::parseProcessId(argument)) require(*pid > 1, "a process id is above 1");
        if (const auto path = relaunch::standardisePath(argument, workingDirectory)) {
            require(isStandardised(*path), "a standardised path is absolute and clean");
            const auto again = relaunch::standardisePath(*path, "/");
            require(again && *again == *path, "standardising is idempotent");
        }
    }

    const auto request = relaunch::parseCommandLine(arguments, workingDirectory);
    if (!request) return 0;
    require(arguments.size() == 3, "a command line has the program, a process id and a bundle");
    require(request->processId > 1 && relaunch::parseProcessId(arguments[1]) == request->processId,
            "the process id is the second argument's");
    require(isStandardised(request->bundlePath), "the bundle path is standardised");
    require(relaunch::namesApplicationBundle(request->bundlePath) && request->bundlePath.ends_with(".app") &&
                request->bundlePath.rfind('/') + 5 < request->bundlePath.size(),
            "the bundle path names an application bundle");
    return 0;
}
