// The notification server of the end-to-end tests (tests/support/dbus_fakes.h) on the session
// bus, writing its log of JSON lines to FILE:
//
//     velmora-notification-server --log FILE [--capabilities actions,body,sound]
//
// It prints "ready" once it owns org.freedesktop.Notifications. The test clicks a notification with
//     gdbus call --session --dest org.freedesktop.Notifications --object-path /fr/velmora/test
//         --method fr.velmora.test.NotificationServer.Click ID
#include <cstdio>
#include <string>
#include <vector>

#include "dbus_fakes.h"

int main(int argc, char** argv) {
    g_autofree char* logPath = nullptr;
    g_autofree char* capabilities = nullptr;
    const GOptionEntry entries[] = {
        {"log", 0, 0, G_OPTION_ARG_FILENAME, &logPath, "Where to write the events", "FILE"},
        {"capabilities", 0, 0, G_OPTION_ARG_STRING, &capabilities, "Capabilities, separated by commas", "LIST"},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
    };
    g_autoptr(GOptionContext) options = g_option_context_new(nullptr);
    g_option_context_add_main_entries(options, entries, nullptr);
    g_autoptr(GError) error = nullptr;
    if (!g_option_context_parse(options, &argc, &argv, &error) || !logPath) {
        std::fprintf(stderr, "velmora-notification-server: %s\n", error ? error->message : "--log is required");
        return 2;
    }
    FILE* log = std::fopen(logPath, "a");
    if (!log) return 2;
    std::vector<std::string> names;
    g_auto(GStrv) listed = g_strsplit(capabilities ? capabilities : "actions,body,sound,persistence", ",", -1);
    for (char** name = listed; *name; ++name)
        if (**name) names.emplace_back(*name);
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        std::fprintf(stderr, "velmora-notification-server: %s\n", error->message);
        return 1;
    }

    velmora_test::FakeNotificationServer server(bus, names);
    if (!server.owns()) {
        std::fprintf(stderr, "velmora-notification-server: the name org.freedesktop.Notifications is not ours\n");
        return 1;
    }
    server.onLog = velmora_test::lineWriter(log);
    velmora_test::serveUntilTerminated();
    std::fclose(log);
    return 0;
}
