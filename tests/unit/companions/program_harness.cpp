#include "program_harness.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace companion_test {

namespace fs = std::filesystem;

TemporaryFolder::TemporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "velmora-companions-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void writeFile(const fs::path& path, const std::string& text, fs::perms permissions) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    fs::permissions(path, permissions);
}

std::string infoPlist(const std::map<std::string, std::string>& strings) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    for (const auto& [key, value] : strings) {
        text.append("<key>").append(key).append("</key><string>").append(value).append("</string>\n");
    }
    return text + "</dict>\n</plist>\n";
}

std::string markerScript(const fs::path& marker) {
    // Read through /proc of the script's own process: in a command substitution $$ is still
    // the script, while the substitution's own standard output is a pipe.
    return "#!/bin/sh\n"
           "stdin=$(readlink /proc/$$/fd/0)\n"
           "stdout=$(readlink /proc/$$/fd/1)\n"
           "stderr=$(readlink /proc/$$/fd/2)\n"
           "session=$(cut -d' ' -f6 /proc/$$/stat)\n"
           "{\n"
           "  echo \"count=$#\"\n"
           "  for a in \"$@\"; do echo \"arg=$a\"; done\n"
           "  echo \"stdin=$stdin\"\n"
           "  echo \"stdout=$stdout\"\n"
           "  echo \"stderr=$stderr\"\n"
           "  if [ \"$session\" = \"$$\" ]; then echo session=own; else echo session=inherited; fi\n"
           "  echo \"token=${XDG_ACTIVATION_TOKEN-none}\"\n"
           "  echo \"startup=${DESKTOP_STARTUP_ID-none}\"\n"
           "} > '" +
           marker.string() + ".tmp' && mv '" + marker.string() + ".tmp' '" + marker.string() + "'\n";
}

std::optional<std::vector<std::string>> awaitMarker(const fs::path& marker, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!fs::exists(marker)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::ifstream in(marker);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

namespace {

// Looks `launch.program` up in the PATH of the launch's own environment, as a shell would;
// execvpe cannot do this, since it searches the PATH of the calling process.
std::string searchPath(const Launch& launch) {
    std::string path;
    for (const auto& entry : launch.environment) {
        if (entry.starts_with("PATH=")) {
            path = entry.substr(5);
        }
    }
    std::stringstream folders(path);
    for (std::string folder; std::getline(folders, folder, ':');) {
        const fs::path candidate = fs::path(folder) / launch.program;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
    }
    return launch.program.string();
}

}  // namespace

Outcome runProgram(const Launch& launch) {
    const fs::path outputFile = fs::temp_directory_path() / ("velmora-companions-output-" + std::to_string(::getpid()));

    // Everything the child needs is prepared before fork: between fork and exec only
    // async-signal-safe calls are allowed.
    const std::string program = launch.searchPath ? searchPath(launch) : launch.program.string();
    const std::string directory = launch.workingDirectory.string();
    const std::string output = outputFile.string();
    // exec takes char* const*, so the vectors point into copies of our own.
    std::vector<std::string> arguments = launch.arguments;
    std::vector<std::string> environment = launch.environment;
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_RDONLY);
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (devNull < 0 || out < 0 || ::dup2(devNull, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0 ||
            ::chdir(directory.c_str()) != 0) {
            ::_exit(127);
        }
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }

    Outcome result;
    const auto deadline = start + launch.timeout;
    int status = 0;
    while (true) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            if (WIFEXITED(status)) {
                result.exitStatus = WEXITSTATUS(status);
            }
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.elapsed = std::chrono::steady_clock::now() - start;

    std::ifstream in(outputFile, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    result.output = text.str();
    std::error_code ignored;
    fs::remove(outputFile, ignored);
    return result;
}

int endedProcessId() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(0);
    }
    ::waitpid(pid, nullptr, 0);
    return pid;
}

}  // namespace companion_test
