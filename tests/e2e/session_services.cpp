// Stand-ins for the desktop's session services in the end-to-end tests: a GNOME session manager
// on the session bus and logind on the system bus (DBUS_SESSION_BUS_ADDRESS and
// DBUS_SYSTEM_BUS_ADDRESS), each speaking only as much of its protocol as an application sees.
//
//     velmora-session-services --log FILE
//
// It prints "ready" once it owns both names. The test ends the session or shuts down with
//     gdbus call --session --dest org.gnome.SessionManager --object-path /fr/velmora/test
//         --method fr.velmora.test.Session.EndSession        (or .Shutdown)
// Ending the session asks every client first (QueryEndSession) and sends EndSession once the
// last one agreed, as gnome-session does. The log has one line per event:
//     register APPLICATION STARTUP-ID | response CLIENT OK REASON | inhibit WHAT|WHO|WHY|MODE |
//     released INHIBITOR
#include <gio/gio.h>
#include <glib-unix.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* kManagerName = "org.gnome.SessionManager";
constexpr const char* kManagerPath = "/org/gnome/SessionManager";
constexpr const char* kClientInterface = "org.gnome.SessionManager.ClientPrivate";
constexpr const char* kLogindName = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindInterface = "org.freedesktop.login1.Manager";
constexpr const char* kControlPath = "/fr/velmora/test";

constexpr const char* kSessionIntrospection =
    "<node>"
    "<interface name='org.gnome.SessionManager'>"
    "<method name='RegisterClient'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='o' direction='out'/></method>"
    "</interface>"
    "<interface name='org.gnome.SessionManager.ClientPrivate'>"
    "<method name='EndSessionResponse'><arg type='b' direction='in'/><arg type='s' direction='in'/></method>"
    "</interface>"
    "<interface name='fr.velmora.test.Session'>"
    "<method name='EndSession'/><method name='Shutdown'/>"
    "</interface>"
    "</node>";

constexpr const char* kLogindIntrospection =
    "<node><interface name='org.freedesktop.login1.Manager'>"
    "<method name='Inhibit'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='h' direction='out'/></method>"
    "</interface></node>";

struct Services {
    FILE* log = nullptr;
    GDBusConnection* session = nullptr;
    GDBusConnection* system = nullptr;
    GDBusNodeInfo* sessionNode = nullptr;
    GDBusNodeInfo* logindNode = nullptr;
    std::vector<std::string> clients;
    bool querying = false;
    size_t agreed = 0;
    int inhibitors = 0;
};

void logLine(Services& services, const std::string& line) {
    std::fprintf(services.log, "%s\n", line.c_str());
    std::fflush(services.log);
}

void emitToClients(Services& services, const char* signal) {
    for (const std::string& client : services.clients)
        g_dbus_connection_emit_signal(services.session, nullptr, client.c_str(), kClientInterface, signal,
                                      g_variant_new("(u)", 0U), nullptr);
}

gboolean onInhibitorReleased(gint reader, GIOCondition, gpointer data) {
    auto* services = static_cast<Services*>(data);
    logLine(*services, "released " + std::to_string(reader));
    close(reader);
    return G_SOURCE_REMOVE;
}

void onSessionCall(GDBusConnection*, const char*, const char* path, const char*, const char* method,
                   GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    auto* services = static_cast<Services*>(data);
    const std::string name(method);
    if (name == "RegisterClient") {
        const char* application = nullptr;
        const char* startup = nullptr;
        g_variant_get(parameters, "(&s&s)", &application, &startup);
        const std::string client = std::string(kManagerPath) + "/Client" + std::to_string(services->clients.size() + 1);
        services->clients.push_back(client);
        // The client's object exists once it is registered, as in gnome-session.
        static const GDBusInterfaceVTable vtable = {&onSessionCall, nullptr, nullptr, {}};
        g_dbus_connection_register_object(services->session, client.c_str(), services->sessionNode->interfaces[1],
                                          &vtable, services, nullptr, nullptr);
        logLine(*services, std::string("register ") + application + " " + startup);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", client.c_str()));
    } else if (name == "EndSessionResponse") {
        gboolean ok = FALSE;
        const char* reason = nullptr;
        g_variant_get(parameters, "(b&s)", &ok, &reason);
        logLine(*services, std::string("response ") + path + (ok ? " true " : " false ") + reason);
        g_dbus_method_invocation_return_value(invocation, nullptr);
        if (services->querying && ok && ++services->agreed == services->clients.size()) {
            services->querying = false;
            emitToClients(*services, "EndSession");
        }
    } else if (name == "EndSession") {
        services->querying = true;
        services->agreed = 0;
        emitToClients(*services, "QueryEndSession");
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (name == "Shutdown") {
        g_dbus_connection_emit_signal(services->system, nullptr, kLogindPath, kLogindInterface, "PrepareForShutdown",
                                      g_variant_new("(b)", TRUE), nullptr);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }
}

// Hands out each inhibitor as the writing end of a pipe, as logind does with a FIFO, and logs
// its release once every copy of that end is closed.
void onLogindCall(GDBusConnection*, const char*, const char*, const char*, const char* method, GVariant* parameters,
                  GDBusMethodInvocation* invocation, gpointer data) {
    auto* services = static_cast<Services*>(data);
    if (std::string(method) != "Inhibit") return;
    const char* what = nullptr;
    const char* who = nullptr;
    const char* why = nullptr;
    const char* mode = nullptr;
    g_variant_get(parameters, "(&s&s&s&s)", &what, &who, &why, &mode);
    int ends[2];
    if (pipe(ends) != 0) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Failed", "pipe");
        return;
    }
    logLine(*services, std::string("inhibit ") + what + "|" + who + "|" + why + "|" + mode);
    g_unix_fd_add(ends[0], G_IO_HUP, onInhibitorReleased, services);
    g_autoptr(GUnixFDList) descriptors = g_unix_fd_list_new();
    const int index = g_unix_fd_list_append(descriptors, ends[1], nullptr);
    close(ends[1]);
    g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, g_variant_new("(h)", index), descriptors);
}

bool ownName(GDBusConnection* bus, const char* name) {
    g_autoptr(GVariant) reply =
        g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                    "RequestName", g_variant_new("(su)", name, 4U /* do not queue */),
                                    G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    guint32 result = 0;
    if (reply) g_variant_get(reply, "(u)", &result);
    return result == 1;  // the primary owner
}

gboolean onTerminate(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::string(argv[1]) != "--log") {
        std::fprintf(stderr, "usage: velmora-session-services --log FILE\n");
        return 2;
    }
    Services services;
    services.log = std::fopen(argv[2], "a");
    services.session = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    services.system = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    if (!services.log || !services.session || !services.system) return 1;
    services.sessionNode = g_dbus_node_info_new_for_xml(kSessionIntrospection, nullptr);
    services.logindNode = g_dbus_node_info_new_for_xml(kLogindIntrospection, nullptr);

    static const GDBusInterfaceVTable sessionTable = {&onSessionCall, nullptr, nullptr, {}};
    static const GDBusInterfaceVTable logindTable = {&onLogindCall, nullptr, nullptr, {}};
    g_dbus_connection_register_object(services.session, kManagerPath, services.sessionNode->interfaces[0],
                                      &sessionTable, &services, nullptr, nullptr);
    g_dbus_connection_register_object(services.session, kControlPath, services.sessionNode->interfaces[2],
                                      &sessionTable, &services, nullptr, nullptr);
    g_dbus_connection_register_object(services.system, kLogindPath, services.logindNode->interfaces[0], &logindTable,
                                      &services, nullptr, nullptr);
    if (!ownName(services.session, kManagerName) || !ownName(services.system, kLogindName)) return 1;

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_unix_signal_add(SIGTERM, onTerminate, loop);
    std::printf("ready\n");
    std::fflush(stdout);
    g_main_loop_run(loop);
    return 0;
}
