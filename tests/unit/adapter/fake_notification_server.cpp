#include "fake_notification_server.h"

#include <fstream>
#include <memory>
#include <utility>

namespace adapter_test {

namespace {

constexpr const char* kName = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr const char* kMarkerInterface = "fr.velmora.test.Marker";

constexpr const char* kIntrospection =
    "<node><interface name='org.freedesktop.Notifications'>"
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
    "</interface></node>";

constexpr const char* kBusConfig =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig><type>session</type><listen>unix:path=%s</listen><auth>EXTERNAL</auth>"
    "<policy context='default'><allow send_destination='*' eavesdrop='true'/><allow eavesdrop='true'/>"
    "<allow own='*'/></policy></busconfig>\n";

gboolean keepWaking(gpointer) { return G_SOURCE_CONTINUE; }

}  // namespace

bool runMainLoopUntil(const std::function<bool()>& done, unsigned limit) {
    const gint64 deadline = g_get_monotonic_time() + gint64{limit} * 1000;
    // Wakes the loop up now and then, so that the deadline is seen even when nothing else happens.
    const guint wake = g_timeout_add(5, &keepWaking, nullptr);
    while (!done() && g_get_monotonic_time() < deadline) g_main_context_iteration(nullptr, TRUE);
    g_source_remove(wake);
    return done();
}

PrivateBus::PrivateBus(const std::string& folder) {
    const std::string config = folder + "/bus.conf";
    g_autofree char* text = g_strdup_printf(kBusConfig, (folder + "/bus").c_str());
    std::ofstream(config) << text;
    daemon_ = g_subprocess_new(
        static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_SILENCE), nullptr,
        "dbus-daemon", "--nofork", "--print-address=1", ("--config-file=" + config).c_str(), nullptr);
    if (!daemon_) return;
    g_autoptr(GDataInputStream) lines = g_data_input_stream_new(g_subprocess_get_stdout_pipe(daemon_));
    g_autofree char* line = g_data_input_stream_read_line(lines, nullptr, nullptr, nullptr);
    if (line) address_ = line;
}

PrivateBus::~PrivateBus() {
    if (!daemon_) return;
    g_subprocess_force_exit(daemon_);
    g_subprocess_wait(daemon_, nullptr, nullptr);
    g_object_unref(daemon_);
}

GDBusConnection* PrivateBus::connect() const {
    if (address_.empty()) return nullptr;
    const auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                         G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    return g_dbus_connection_new_for_address_sync(address_.c_str(), flags, nullptr, nullptr, nullptr);
}

FakeNotificationServer::FakeNotificationServer(const PrivateBus& bus, std::vector<std::string> capabilities)
    : connection_(bus.connect()), capabilities_(std::move(capabilities)) {
    if (!connection_) return;
    g_autoptr(GDBusNodeInfo) node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    static const GDBusInterfaceVTable vtable = {&FakeNotificationServer::onMethodCall, nullptr, nullptr, {}};
    registration_ =
        g_dbus_connection_register_object(connection_, kPath, node->interfaces[0], &vtable, this, nullptr, nullptr);
    owns_ = ownName(connection_, kName);
}

FakeNotificationServer::~FakeNotificationServer() { quit(); }

bool ownName(GDBusConnection* connection, const char* name) {
    g_autoptr(GVariant) reply =
        g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                    "RequestName", g_variant_new("(su)", name, 4U /* DBUS_NAME_FLAG_DO_NOT_QUEUE */),
                                    G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    guint32 result = 0;
    if (reply) g_variant_get(reply, "(u)", &result);
    return result == 1;  // DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER
}

std::string FakeNotificationServer::uniqueName() const {
    return connection_ ? g_dbus_connection_get_unique_name(connection_) : "";
}

void FakeNotificationServer::quit() {
    if (!connection_) return;
    // Released before leaving, so that the bus has let go of the name when this returns.
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReleaseName",
        g_variant_new("(s)", kName), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    g_dbus_connection_unregister_object(connection_, registration_);
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_clear_object(&connection_);
    owns_ = false;
}

void FakeNotificationServer::emit(const char* signal, GVariant* parameters, const std::string& destination) {
    const std::string to = destination.empty() ? poster_ : destination;
    g_dbus_connection_emit_signal(connection_, to.c_str(), kPath, kInterface, signal, parameters, nullptr);
}

void FakeNotificationServer::onMethodCall(GDBusConnection*, const char* sender, const char*, const char*,
                                          const char* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                                          gpointer data) {
    auto* server = static_cast<FakeNotificationServer*>(data);
    const std::string name = method;
    if (name == "Notify") {
        server->notify(sender, parameters, invocation);
    } else if (name == "CloseNotification") {
        guint32 id = 0;
        g_variant_get(parameters, "(u)", &id);
        server->closeCalls_.push_back(id);
        g_dbus_method_invocation_return_value(invocation, nullptr);
        server->emit("NotificationClosed", g_variant_new("(uu)", id, 3U), sender);
    } else if (name == "GetCapabilities") {
        ++server->capabilityCalls_;
        GVariantBuilder names;
        g_variant_builder_init(&names, G_VARIANT_TYPE_STRING_ARRAY);
        for (const auto& capability : server->capabilities_) g_variant_builder_add(&names, "s", capability.c_str());
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(as)", &names));
    } else {
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(ssss)", "fake", "test", "1", "1.2"));
    }
}

void FakeNotificationServer::notify(const char* sender, GVariant* parameters, GDBusMethodInvocation* invocation) {
    poster_ = sender;
    NotifyCall call;
    call.signature = g_dbus_message_get_signature(g_dbus_method_invocation_get_message(invocation));
    const char *appName = nullptr, *appIcon = nullptr, *summary = nullptr, *body = nullptr;
    g_autoptr(GVariantIter) actions = nullptr;
    g_autoptr(GVariantIter) hints = nullptr;
    g_variant_get(parameters, "(&su&s&s&sasa{sv}i)", &appName, &call.replacesId, &appIcon, &summary, &body, &actions,
                  &hints, &call.expireTimeout);
    call.appName = appName;
    call.appIcon = appIcon;
    call.summary = summary;
    call.body = body;
    const char* action = nullptr;
    while (g_variant_iter_next(actions, "&s", &action)) call.actions.push_back(action);
    const char* key = nullptr;
    GVariant* value = nullptr;
    while (g_variant_iter_next(hints, "{&sv}", &key, &value)) {
        g_autofree char* text = g_variant_print(value, TRUE);
        call.hints[key] = text;
        g_variant_unref(value);
    }
    if (refusal_) {
        notifyCalls_.push_back(std::move(call));
        g_dbus_method_invocation_return_dbus_error(invocation, refusal_->c_str(), "Notifications are turned off");
        return;
    }
    // A known id is replaced in place, as the protocol asks.
    bool known = false;
    for (const auto& earlier : notifyCalls_) known = known || (earlier.id != 0 && earlier.id == call.replacesId);
    call.id = known ? call.replacesId : nextId_++;
    const guint32 id = call.id;
    notifyCalls_.push_back(std::move(call));
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", id));
}

bool flushSignals(GDBusConnection* sender, GDBusConnection* receiver) {
    bool seen = false;
    const auto onMarker = [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant*,
                             gpointer data) { *static_cast<bool*>(data) = true; };
    const guint subscription =
        g_dbus_connection_signal_subscribe(receiver, g_dbus_connection_get_unique_name(sender), kMarkerInterface,
                                           "Marker", "/", nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onMarker, &seen, nullptr);
    g_dbus_connection_emit_signal(sender, g_dbus_connection_get_unique_name(receiver), "/", kMarkerInterface, "Marker",
                                  nullptr, nullptr);
    const bool done = runMainLoopUntil([&seen] { return seen; });
    g_dbus_connection_signal_unsubscribe(receiver, subscription);
    return done;
}

bool flushBus(GDBusConnection* receiver) {
    // Shared with the callback, which may come after a wait that gave up.
    auto answered = std::make_shared<bool>(false);
    g_dbus_connection_call(
        receiver, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId", nullptr, nullptr,
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::shared_ptr<bool>> flag(static_cast<std::shared_ptr<bool>*>(data));
            g_autoptr(GVariant) reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
            **flag = true;
        },
        new std::shared_ptr<bool>(answered));
    return runMainLoopUntil([answered] { return *answered; });
}

}  // namespace adapter_test
