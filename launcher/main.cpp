// VelmoraBackground: started by the login-start agent, it opens the application that contains
// it in background mode unless that application already runs. It prints and logs nothing.
#include "launcher/launcher_core.h"
#include "launcher/open_bundle.h"

#include <gio/gio.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace {

std::string ownBundlePath(const char* argumentZero) {
    const std::string_view given = argumentZero != nullptr ? argumentZero : "";
    std::error_code error;
    if (!given.empty() && given.front() == '/') {
        return launcher::bundleFromProgramPath(given, "/");
    }
    if (given.find('/') != std::string_view::npos) {
        const auto workingDirectory = std::filesystem::current_path(error);
        if (!error) {
            return launcher::bundleFromProgramPath(given, workingDirectory.string());
        }
    }
    // Started by a bare name, the program was found through PATH, so argument 0 says nothing
    // about its folder (nor does a relative one when the working directory is gone); the
    // kernel knows the file it runs.
    const auto running = std::filesystem::read_symlink("/proc/self/exe", error);
    return launcher::bundleFromProgramPath(error ? std::string() : running.string(), "/");
}

// Whether a process owns the bus name `identifier` on the session bus, which is how the
// application (a GApplication with the bundle identifier as its id) shows that it runs.
bool isRunning(const std::string& identifier) {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) {
        return false;  // without a session bus no instance can be reached, so none counts
    }
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
        g_variant_new("(s)", identifier.c_str()), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    gboolean owned = FALSE;
    if (reply != nullptr) {
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
    }
    g_object_unref(bus);
    // A failed question is answered "not running": the application, once started, hands
    // over to a running instance itself.
    return owned != FALSE;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string bundle = ownBundlePath(argc > 0 ? argv[0] : nullptr);

    const auto info = companion::readInfoDictionary(bundle);
    if (!info) {
        return launcher::kUnusable;
    }
    const auto identifier = info->strings.find("CFBundleIdentifier");
    if (identifier == info->strings.end() || identifier->second.empty()) {
        return launcher::kUnusable;
    }

    if (isRunning(identifier->second)) {
        return launcher::kDone;
    }
    if (!companion::startBundleExecutable(bundle, *info, {"--background"}, companion::Activation::hidden)) {
        return launcher::kOpenFailed;
    }
    return launcher::kDone;
}
