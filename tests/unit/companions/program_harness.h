// Running the built companion programs against bundles made up in a temporary folder.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace companion_test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    TemporaryFolder(TemporaryFolder&&) = delete;
    TemporaryFolder& operator=(TemporaryFolder&&) = delete;
    // The folder's absolute path.
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Writes `text` to `path`, making the folders on the way, with the given permissions.
void writeFile(const std::filesystem::path& path, const std::string& text,
               std::filesystem::perms permissions = std::filesystem::perms(0644));

// An XML property list holding a dictionary with these string values.
std::string infoPlist(const std::map<std::string, std::string>& strings);

// A shell script that, when run, writes what it saw to `marker` (via a temporary file and a
// rename, so the marker appears whole): its argument count and arguments, where its standard
// streams lead, whether it leads its own session, and the activation tokens it was handed.
std::string markerScript(const std::filesystem::path& marker);

// What the marker script wrote, line by line; nullopt when it did not appear within `wait`.
std::optional<std::vector<std::string>> awaitMarker(const std::filesystem::path& marker,
                                                    std::chrono::milliseconds wait = std::chrono::seconds(5));

struct Outcome {
    std::optional<int> exitStatus;  // nullopt: did not end in time (and was killed) or by a signal
    std::string output;             // standard output and standard error together
    std::chrono::duration<double> elapsed{};
};

struct Launch {
    std::filesystem::path program;         // the file to execute
    std::vector<std::string> arguments;    // argument 0 first
    std::vector<std::string> environment;  // NAME=value, the whole environment
    std::filesystem::path workingDirectory = "/";
    bool searchPath = false;  // find `program` through PATH of `environment`
    std::chrono::milliseconds timeout = std::chrono::seconds(10);
};

// Runs the launch to its end, or kills it once the timeout has passed.
Outcome runProgram(const Launch& launch);

// The identifier of a process that has ended and been reaped.
int endedProcessId();

}  // namespace companion_test
