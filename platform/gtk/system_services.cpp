#include "platform/gtk/system_services.h"

#include <glib.h>
#include <syslog.h>
#include <unistd.h>

#include <mutex>

namespace gtk {

std::optional<std::vector<std::uint8_t>> LocalFiles::read(const std::string& path) const {
    g_autofree char* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr)) {
        return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(contents);
    return std::vector<std::uint8_t>(bytes, bytes + length);
}

bool LocalFiles::isExecutableFile(const std::string& path) const {
    // The flags of one g_file_test call are alternatives, hence two calls.
    return g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR) && g_file_test(path.c_str(), G_FILE_TEST_IS_EXECUTABLE);
}

int DetachedProcesses::processIdentifier() const { return static_cast<int>(getpid()); }

namespace {

// Runs in the new program's process just before it starts, where only async-signal-safe
// calls are allowed. A session of its own keeps the program out of this process's group,
// so the hang-up or interrupt of the terminal that started Velmora does not end it too.
void startOwnSession(gpointer) { setsid(); }

}  // namespace

std::optional<std::string> DetachedProcesses::launch(const std::string& executable,
                                                     const std::vector<std::string>& arguments) {
    // Without G_SPAWN_DO_NOT_REAP_CHILD, GLib forks twice: the intermediate child starts the
    // program and exits at once, GLib waits for it, and init (or the session's subreaper) adopts
    // the program. It is therefore never a child of ours, outlives us, can never linger as our
    // zombie, and nothing has to be kept or run on the main loop to reap it. A GSubprocess would
    // stay our child and need a pending wait for as long as it runs. GLib still reports a failing
    // exec, such as a missing program.
    std::vector<std::string> argv;
    argv.reserve(arguments.size() + 1);
    argv.push_back(executable);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (auto& argument : argv) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);

    g_autoptr(GError) error = nullptr;
    if (!g_spawn_async(nullptr, pointers.data(), nullptr, G_SPAWN_DEFAULT, &startOwnSession, nullptr, nullptr,
                       &error)) {
        return std::string(error->message);
    }
    return std::nullopt;
}

SystemLog::SystemLog() {
    static std::once_flag opened;
    // The line also goes to standard error: where no log daemon runs (a bare session, a test
    // machine), or when Velmóra is started from a terminal, it is still seen.
    std::call_once(opened, [] { openlog("Velmora", LOG_PID | LOG_PERROR, LOG_USER); });
}

void SystemLog::write(const std::string& line) {
    // The line is data, never a format: a "%" in it is written as it is.
    syslog(LOG_NOTICE, "%s", line.c_str());
}

}  // namespace gtk
