#include "launcher/open_bundle.h"

#include <glib.h>
#include <unistd.h>

#include <cstdint>
#include <span>

namespace companion {

namespace {

// Runs in the new process between fork and exec: leaving the caller's session means a hang-up
// of the terminal or session that started the companion does not reach the application.
void leaveSession(gpointer /*unused*/) { ::setsid(); }

std::optional<std::string> executableName(const foundation::PropertyListDictionary& info) {
    const auto found = info.strings.find("CFBundleExecutable");
    if (found == info.strings.end()) {
        return std::nullopt;
    }
    const std::string& name = found->second;
    // The name is a file name inside Contents/MacOS, never a path that could leave it.
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        return std::nullopt;
    }
    return name;
}

}  // namespace

std::optional<foundation::PropertyListDictionary> readInfoDictionary(const std::string& bundlePath) {
    const std::string path = bundlePath + "/Contents/Info.plist";
    gchar* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr)) {
        return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(contents);
    auto dictionary = foundation::readPropertyList(std::span<const std::uint8_t>(bytes, length));
    g_free(contents);
    return dictionary;
}

namespace {

// Starts the program; with `child` the process is the caller's child and its identifier is
// written there, else GLib detaches it.
bool start(const std::string& bundlePath, const foundation::PropertyListDictionary& info,
           const std::vector<std::string>& arguments, Activation activation, GPid* child) {
    const auto name = executableName(info);
    if (!name) {
        return false;
    }
    // GLib takes the vector as gchar**, so it points into copies of our own.
    std::vector<std::string> words{bundlePath + "/Contents/MacOS/" + *name};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<gchar*> argv;
    argv.reserve(words.size() + 1);
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    gchar** envp = g_get_environ();
    if (activation == Activation::hidden) {
        // A token left over from whoever started the companion would let the new window
        // take the focus.
        envp = g_environ_unsetenv(envp, "XDG_ACTIVATION_TOKEN");
        envp = g_environ_unsetenv(envp, "DESKTOP_STARTUP_ID");
    }

    // g_spawn_async without G_SPAWN_DO_NOT_REAP_CHILD forks twice, so the application is
    // nobody's zombie once the companion exits, and it reports a failed exec (missing file,
    // no execute permission) to us before it returns. Standard input is /dev/null by default.
    auto flags = static_cast<GSpawnFlags>(G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL);
    if (child) flags = static_cast<GSpawnFlags>(flags | G_SPAWN_DO_NOT_REAP_CHILD);
    const gboolean started = g_spawn_async(nullptr, argv.data(), envp, flags, leaveSession, nullptr, child, nullptr);
    g_strfreev(envp);
    return started != FALSE;
}

}  // namespace

bool startBundleExecutable(const std::string& bundlePath, const foundation::PropertyListDictionary& info,
                           const std::vector<std::string>& arguments, Activation activation) {
    return start(bundlePath, info, arguments, activation, nullptr);
}

std::optional<int> startBundleExecutableAsChild(const std::string& bundlePath,
                                                const foundation::PropertyListDictionary& info,
                                                const std::vector<std::string>& arguments, Activation activation) {
    GPid child = 0;
    if (!start(bundlePath, info, arguments, activation, &child)) return std::nullopt;
    return child;
}

}  // namespace companion
