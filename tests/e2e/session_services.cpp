// The desktop's session services for the end-to-end tests (tests/support/dbus_fakes.h): the
// GNOME session manager on the session bus and logind on the system bus (DBUS_SESSION_BUS_ADDRESS
// and DBUS_SYSTEM_BUS_ADDRESS), both writing their log lines to FILE:
//
//     velmora-session-services --log FILE
//
// It prints "ready" once it owns both names. The test ends the session or shuts down with
//     gdbus call --session --dest org.gnome.SessionManager --object-path /fr/velmora/test
//         --method fr.velmora.test.Session.EndSession        (or .Shutdown)
#include <cstdio>
#include <string>

#include "dbus_fakes.h"

int main(int argc, char** argv) {
    if (argc != 3 || std::string(argv[1]) != "--log") {
        std::fprintf(stderr, "usage: velmora-session-services --log FILE\n");
        return 2;
    }
    FILE* log = std::fopen(argv[2], "a");
    GDBusConnection* session = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    GDBusConnection* system = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    if (!log || !session || !system) return 1;

    velmora_test::FakeSessionManager manager(session);
    velmora_test::FakeLogind logind(system);
    manager.onLog = velmora_test::lineWriter(log);
    logind.onLog = velmora_test::lineWriter(log);
    manager.onShutdown = [&logind] { logind.announceShutdown(true); };
    if (!manager.own() || !logind.own()) return 1;
    velmora_test::serveUntilTerminated();
    return 0;
}
