// A notification server for the end-to-end tests: it owns org.freedesktop.Notifications on the
// session bus, keeps what it is shown as a real server would, writes every call and every
// closing to a log of JSON lines, and lets the test click a notification.
//
//     velmora-notification-server --log FILE [--capabilities actions,body,sound]
//
// It prints "ready" once it owns the name. The test clicks a notification with
//     gdbus call --session --dest org.freedesktop.Notifications --object-path /fr/velmora/test
//         --method fr.velmora.test.NotificationServer.Click ID
// which sends ActivationToken and ActionInvoked("default") to the poster and, unless the
// notification is resident, closes it as dismissed. Signals go to the poster only, as some
// real servers do.
#include <gio/gio.h>
#include <glib-unix.h>
#include <json-glib/json-glib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr const char* kName = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr const char* kControlPath = "/fr/velmora/test";

constexpr const char* kIntrospection =
    "<node>"
    "<interface name='org.freedesktop.Notifications'>"
    "<method name='Notify'>"
    "<arg type='s' direction='in'/><arg type='u' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='as' direction='in'/>"
    "<arg type='a{sv}' direction='in'/><arg type='i' direction='in'/><arg type='u' direction='out'/>"
    "</method>"
    "<method name='CloseNotification'><arg type='u' direction='in'/></method>"
    "<method name='GetCapabilities'><arg type='as' direction='out'/></method>"
    "<method name='GetServerInformation'>"
    "<arg type='s' direction='out'/><arg type='s' direction='out'/><arg type='s' direction='out'/>"
    "<arg type='s' direction='out'/>"
    "</method>"
    "<signal name='NotificationClosed'><arg type='u'/><arg type='u'/></signal>"
    "<signal name='ActionInvoked'><arg type='u'/><arg type='s'/></signal>"
    "<signal name='ActivationToken'><arg type='u'/><arg type='s'/></signal>"
    "</interface>"
    "<interface name='fr.velmora.test.NotificationServer'>"
    "<method name='Click'><arg type='u' direction='in'/></method>"
    "</interface>"
    "</node>";

// The reasons of NotificationClosed.
constexpr guint32 kDismissed = 2;
constexpr guint32 kClosedByCall = 3;

struct Shown {
    std::string poster;
    bool resident = false;
};

struct Server {
    GDBusConnection* connection = nullptr;
    FILE* log = nullptr;
    std::vector<std::string> capabilities;
    std::map<guint32, Shown> shown;
    guint32 nextId = 1;
};

// Appends one event to the log and flushes it, so the test reads whole lines only.
void record(Server& server, JsonBuilder* builder) {
    json_builder_end_object(builder);
    g_autoptr(JsonNode) root = json_builder_get_root(builder);
    g_autofree char* text = json_to_string(root, FALSE);
    std::fprintf(server.log, "%s\n", text);
    std::fflush(server.log);
}

JsonBuilder* event(const char* name) {
    JsonBuilder* builder = json_builder_new();
    json_builder_begin_object(builder);
    json_builder_set_member_name(builder, "event");
    json_builder_add_string_value(builder, name);
    json_builder_set_member_name(builder, "time");
    json_builder_add_double_value(builder, static_cast<double>(g_get_monotonic_time()) / G_USEC_PER_SEC);
    return builder;
}

void addInt(JsonBuilder* builder, const char* name, gint64 value) {
    json_builder_set_member_name(builder, name);
    json_builder_add_int_value(builder, value);
}

void emit(Server& server, const std::string& to, const char* signal, GVariant* parameters) {
    g_dbus_connection_emit_signal(server.connection, to.c_str(), kPath, kInterface, signal, parameters, nullptr);
}

void close(Server& server, guint32 id, guint32 reason) {
    const auto found = server.shown.find(id);
    if (found == server.shown.end()) return;
    const std::string poster = found->second.poster;
    server.shown.erase(found);
    g_autoptr(JsonBuilder) builder = event("Closed");
    addInt(builder, "id", id);
    addInt(builder, "reason", reason);
    record(server, builder);
    emit(server, poster, "NotificationClosed", g_variant_new("(uu)", id, reason));
}

void notify(Server& server, const char* sender, GVariant* parameters, GDBusMethodInvocation* invocation) {
    const char *appName = nullptr, *appIcon = nullptr, *summary = nullptr, *body = nullptr;
    guint32 replacesId = 0;
    gint32 expireTimeout = 0;
    g_autoptr(GVariant) actions = nullptr;
    g_autoptr(GVariant) hints = nullptr;
    g_variant_get(parameters, "(&su&s&s&s@as@a{sv}i)", &appName, &replacesId, &appIcon, &summary, &body, &actions,
                  &hints, &expireTimeout);
    // A known id is replaced in place; any other gets a new id, as the protocol asks.
    const guint32 id = server.shown.contains(replacesId) ? replacesId : server.nextId++;
    gboolean resident = FALSE;
    g_variant_lookup(hints, "resident", "b", &resident);
    server.shown[id] = {sender, resident != FALSE};

    g_autoptr(JsonBuilder) builder = event("Notify");
    json_builder_set_member_name(builder, "sender");
    json_builder_add_string_value(builder, sender);
    json_builder_set_member_name(builder, "app_name");
    json_builder_add_string_value(builder, appName);
    addInt(builder, "replaces_id", replacesId);
    json_builder_set_member_name(builder, "app_icon");
    json_builder_add_string_value(builder, appIcon);
    json_builder_set_member_name(builder, "summary");
    json_builder_add_string_value(builder, summary);
    json_builder_set_member_name(builder, "body");
    json_builder_add_string_value(builder, body);
    json_builder_set_member_name(builder, "actions");
    json_builder_add_value(builder, json_gvariant_serialize(actions));
    json_builder_set_member_name(builder, "hints");
    json_builder_add_value(builder, json_gvariant_serialize(hints));
    addInt(builder, "expire_timeout", expireTimeout);
    addInt(builder, "id", id);
    record(server, builder);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", id));
}

void click(Server& server, guint32 id, GDBusMethodInvocation* invocation) {
    const auto found = server.shown.find(id);
    if (found == server.shown.end()) {
        g_dbus_method_invocation_return_dbus_error(invocation, "fr.velmora.test.Error.Unknown", "no such notification");
        return;
    }
    const Shown shown = found->second;
    g_autoptr(JsonBuilder) builder = event("Click");
    addInt(builder, "id", id);
    record(server, builder);
    g_autofree char* token = g_strdup_printf("velmora-e2e-token-%u", id);
    emit(server, shown.poster, "ActivationToken", g_variant_new("(us)", id, token));
    emit(server, shown.poster, "ActionInvoked", g_variant_new("(us)", id, "default"));
    if (!shown.resident) close(server, id, kDismissed);
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

void onMethodCall(GDBusConnection*, const char* sender, const char*, const char*, const char* method,
                  GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    Server& server = *static_cast<Server*>(data);
    const std::string name = method;
    if (name == "Notify") {
        notify(server, sender, parameters, invocation);
    } else if (name == "CloseNotification") {
        guint32 id = 0;
        g_variant_get(parameters, "(u)", &id);
        g_autoptr(JsonBuilder) builder = event("CloseNotification");
        addInt(builder, "id", id);
        record(server, builder);
        close(server, id, kClosedByCall);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (name == "GetCapabilities") {
        g_autoptr(JsonBuilder) builder = event("GetCapabilities");
        record(server, builder);
        GVariantBuilder names;
        g_variant_builder_init(&names, G_VARIANT_TYPE_STRING_ARRAY);
        for (const auto& capability : server.capabilities) g_variant_builder_add(&names, "s", capability.c_str());
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(as)", &names));
    } else if (name == "GetServerInformation") {
        g_dbus_method_invocation_return_value(invocation,
                                              g_variant_new("(ssss)", "velmora-e2e", "Velmora tests", "1", "1.2"));
    } else if (name == "Click") {
        guint32 id = 0;
        g_variant_get(parameters, "(u)", &id);
        click(server, id, invocation);
    }
}

void onNameAcquired(GDBusConnection*, const char*, gpointer) {
    std::printf("ready\n");
    std::fflush(stdout);
}

void onNameLost(GDBusConnection*, const char*, gpointer) {
    std::fprintf(stderr, "velmora-notification-server: the name %s is not ours\n", kName);
    std::exit(1);
}

}  // namespace

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

    Server server;
    server.log = std::fopen(logPath, "a");
    if (!server.log) return 2;
    g_auto(GStrv) names = g_strsplit(capabilities ? capabilities : "actions,body,sound,persistence", ",", -1);
    for (char** name = names; *name; ++name)
        if (**name) server.capabilities.emplace_back(*name);

    server.connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!server.connection) {
        std::fprintf(stderr, "velmora-notification-server: %s\n", error->message);
        return 1;
    }
    g_autoptr(GDBusNodeInfo) node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    static const GDBusInterfaceVTable vtable = {onMethodCall, nullptr, nullptr, {}};
    g_dbus_connection_register_object(server.connection, kPath, node->interfaces[0], &vtable, &server, nullptr,
                                      nullptr);
    g_dbus_connection_register_object(server.connection, kControlPath, node->interfaces[1], &vtable, &server, nullptr,
                                      nullptr);
    g_bus_own_name_on_connection(server.connection, kName, G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE, onNameAcquired,
                                 onNameLost, nullptr, nullptr);

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_unix_signal_add(
        SIGTERM,
        [](gpointer data) {
            g_main_loop_quit(static_cast<GMainLoop*>(data));
            return G_SOURCE_REMOVE;
        },
        loop);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    std::fclose(server.log);
    return 0;
}
