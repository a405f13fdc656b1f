#include "running_service.h"

#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace service::testing {

namespace {

// The scratch root of this test process, removed when the process ends.
struct ScratchRoot {
    std::string path;
    ScratchRoot() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-service-test-XXXXXX").string();
        if (char* made = mkdtemp(pattern.data())) path = made;
    }
    ~ScratchRoot() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

ScratchRoot& scratchRoot() {
    static ScratchRoot root;
    return root;
}

int runSync(const std::vector<std::string>& arguments, std::string* out) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    gchar* standardOut = nullptr;
    gint waitStatus = 0;
    const gboolean spawned = g_spawn_sync(nullptr, argv.data(), nullptr,
                                          static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL),
                                          nullptr, nullptr, &standardOut, nullptr, &waitStatus, nullptr);
    if (out) *out = standardOut ? standardOut : "";
    g_free(standardOut);
    if (!spawned || !WIFEXITED(waitStatus)) return -1;
    return WEXITSTATUS(waitStatus);
}

std::string readFile(const std::string& path) {
    gchar* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr)) return {};
    std::string text(contents, length);
    g_free(contents);
    return text;
}

}  // namespace

const std::string& RunningService::certificateDirectory() {
    static const std::string directory = [] {
        std::string dir = scratchRoot().path + "/ca";
        runSync({"sh", VELMORA_MAKE_TEST_CA, dir}, nullptr);
        return dir;
    }();
    return directory;
}

std::string RunningService::scratchDirectory() {
    static int counter = 0;
    std::string dir = scratchRoot().path + "/scratch-" + std::to_string(++counter);
    std::filesystem::create_directories(dir);
    return dir;
}

RunningService::RunningService(std::vector<std::string> arguments, bool secure) : secure_(secure) {
    std::vector<std::string> command{VELMORA_SERVICE_EXE, "--port", "0"};
    if (secure) {
        const std::string& ca = certificateDirectory();
        command.insert(command.end(), {"--cert", ca + "/server.pem", "--key", ca + "/server.key"});
    }
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (const auto& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    GPid pid = 0;
    gint out = -1;
    if (!g_spawn_async_with_pipes(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid,
                                  nullptr, &out, nullptr, nullptr)) {
        return;
    }
    pid_ = pid;
    // Wait for the one line "ready <port>".
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd descriptor{out, POLLIN, 0};
        if (poll(&descriptor, 1, 100) <= 0) continue;
        char buffer[64];
        const ssize_t count = read(out, buffer, sizeof buffer);
        if (count <= 0) break;
        line.append(buffer, static_cast<size_t>(count));
    }
    close(out);
    if (line.starts_with("ready ")) port_ = std::atoi(line.c_str() + 6);
}

RunningService::~RunningService() { stop(); }

void RunningService::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 50 && waitpid(pid_, &status, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    pid_ = -1;
}

std::string RunningService::origin(const std::string& host) const {
    return std::string(secure_ ? "https://" : "http://") + host + ":" + std::to_string(port_);
}

CurlResult RunningService::curl(const std::string& url, const std::vector<std::string>& extra) const {
    const std::string dir = scratchDirectory();
    std::vector<std::string> command{"curl",           "-sS", "--max-time",  "5",  "-D",
                                     dir + "/headers", "-o",  dir + "/body", "-w", "%{http_code}"};
    for (const char* host : {"velmora.fr", "salon.velmora.fr", "autre.velmora.fr", "inconnu.velmora.fr"}) {
        command.insert(command.end(), {"--resolve", std::string(host) + ":" + std::to_string(port_) + ":127.0.0.1"});
    }
    if (secure_) command.insert(command.end(), {"--cacert", certificateDirectory() + "/ca.pem"});
    command.insert(command.end(), extra.begin(), extra.end());
    command.push_back(url);
    CurlResult result;
    std::string code;
    result.exitCode = runSync(command, &code);
    result.status = std::atoi(code.c_str());
    result.headers = readFile(dir + "/headers");
    result.body = readFile(dir + "/body");
    return result;
}

CurlResult RunningService::control(const std::string& path, const std::string& json) const {
    return curl(origin("velmora.fr") + path,
                {"-X", "POST", "-H", "Content-Type: application/json", "--data-binary", json});
}

CurlResult RunningService::controlGet(const std::string& path) const { return curl(origin("velmora.fr") + path); }

}  // namespace service::testing
