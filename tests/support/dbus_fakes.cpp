#include "dbus_fakes.h"

#include <glib-unix.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace velmora_test {

namespace {

constexpr const char* kControlPath = "/fr/velmora/test";
constexpr const char* kNotificationsPath = "/org/freedesktop/Notifications";
constexpr const char* kNotifications = "org.freedesktop.Notifications";
constexpr const char* kManagerPath = "/org/gnome/SessionManager";
constexpr const char* kClientInterface = "org.gnome.SessionManager.ClientPrivate";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindInterface = "org.freedesktop.login1.Manager";
constexpr const char* kMarkerInterface = "fr.velmora.test.Marker";

// The reasons of NotificationClosed.
constexpr std::uint32_t kDismissed = 2;
constexpr std::uint32_t kClosedByCall = 3;

constexpr const char* kNotificationsXml =
    "<node><interface name='org.freedesktop.Notifications'>"
    "<method name='Notify'>"
    "<arg type='s' direction='in'/><arg type='u' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='as' direction='in'/>"
    "<arg type='a{sv}' direction='in'/><arg type='i' direction='in'/><arg type='u' direction='out'/>"
    "</method>"
    "<method name='CloseNotification'><arg type='u' direction='in'/></method>"
    "<method name='GetCapabilities'><arg type='as' direction='out'/></method>"
    "</interface></node>";

constexpr const char* kSessionXml =
    "<node><interface name='org.gnome.SessionManager'>"
    "<method name='RegisterClient'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='o' direction='out'/></method>"
    "</interface>"
    "<interface name='org.gnome.SessionManager.ClientPrivate'>"
    "<method name='EndSessionResponse'><arg type='b' direction='in'/><arg type='s' direction='in'/></method>"
    "</interface>"
    "<interface name='fr.velmora.test.Session'><method name='EndSession'/><method name='Shutdown'/></interface>"
    "</node>";

constexpr const char* kLogindXml =
    "<node><interface name='org.freedesktop.login1.Manager'>"
    "<method name='Inhibit'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='h' direction='out'/></method>"
    "</interface></node>";

constexpr const char* kBusConfig =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig><type>session</type><listen>unix:path=%s</listen><auth>EXTERNAL</auth>"
    "<policy context='default'><allow send_destination='*' eavesdrop='true'/><allow eavesdrop='true'/>"
    "<allow own='*'/></policy></busconfig>\n";

GVariant* callBus(GDBusConnection* connection, const char* method, GVariant* parameters, const char* reply) {
    return g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", method, parameters, G_VARIANT_TYPE(reply),
                                       G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
}

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

bool ownName(GDBusConnection* connection, const char* name) {
    g_autoptr(GVariant) reply =
        callBus(connection, "RequestName", g_variant_new("(su)", name, 4U /* DO_NOT_QUEUE */), "(u)");
    guint32 result = 0;
    if (reply) g_variant_get(reply, "(u)", &result);
    return result == 1;  // PRIMARY_OWNER
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

std::function<void(const std::string&)> lineWriter(FILE* file) {
    return [file](const std::string& line) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fflush(file);
    };
}

void serveUntilTerminated() {
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    const auto quit = [](gpointer data) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(data));
        return G_SOURCE_REMOVE;
    };
    g_unix_signal_add(SIGTERM, quit, loop);
    std::printf("ready\n");
    std::fflush(stdout);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
}

PrivateBus::PrivateBus() {
    g_autofree char* made = g_dir_make_tmp("velmora-bus-XXXXXX", nullptr);
    if (!made) return;
    folder_ = made;
    const std::string config = folder_ + "/bus.conf";
    g_autofree char* text = g_strdup_printf(kBusConfig, (folder_ + "/bus").c_str());
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
    if (daemon_) {
        g_subprocess_force_exit(daemon_);
        g_subprocess_wait(daemon_, nullptr, nullptr);
        g_object_unref(daemon_);
    }
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

GDBusConnection* PrivateBus::connect() const {
    if (address_.empty()) return nullptr;
    const auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                         G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    return g_dbus_connection_new_for_address_sync(address_.c_str(), flags, nullptr, nullptr, nullptr);
}

FakeService::FakeService(GDBusConnection* connection, const char* name, const char* introspection)
    : connection_(connection), name_(name), node_(g_dbus_node_info_new_for_xml(introspection, nullptr)) {}

FakeService::~FakeService() {
    leave();
    g_dbus_node_info_unref(node_);
}

bool FakeService::own() { return connection_ && ownName(connection_, name_); }

void FakeService::leave() {
    if (!connection_) return;
    // Released before leaving, so that the bus has let go of the name when this returns.
    g_autoptr(GVariant) reply = callBus(connection_, "ReleaseName", g_variant_new("(s)", name_), "(u)");
    for (const guint object : objects_) g_dbus_connection_unregister_object(connection_, object);
    objects_.clear();
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_clear_object(&connection_);
}

size_t FakeService::count(const std::string& prefix) const {
    size_t found = 0;
    for (const auto& line : log_) found += line.starts_with(prefix) ? 1 : 0;
    return found;
}

void FakeService::serve(const std::string& path, int index) {
    if (!connection_) return;
    static const GDBusInterfaceVTable vtable = {
        [](GDBusConnection*, const char* sender, const char* path, const char*, const char* method,
           GVariant* parameters, GDBusMethodInvocation* invocation,
           gpointer data) { static_cast<FakeService*>(data)->handle(sender, path, method, parameters, invocation); },
        nullptr,
        nullptr,
        {}};
    objects_.push_back(g_dbus_connection_register_object(connection_, path.c_str(), node_->interfaces[index], &vtable,
                                                         this, nullptr, nullptr));
}

void FakeService::emit(const std::string& destination, const std::string& path, const char* interface,
                       const char* signal, GVariant* parameters) {
    g_dbus_connection_emit_signal(connection_, destination.empty() ? nullptr : destination.c_str(), path.c_str(),
                                  interface, signal, parameters, nullptr);
}

void FakeService::record(const std::string& line) {
    log_.push_back(line);
    if (onLog) onLog(line);
}

std::optional<std::string> NotifyCall::hint(const char* key) const {
    g_autoptr(GVariant) value = hints ? g_variant_lookup_value(hints.get(), key, nullptr) : nullptr;
    if (!value) return std::nullopt;
    g_autofree char* text = g_variant_print(value, TRUE);
    return text;
}

FakeNotificationServer::FakeNotificationServer(GDBusConnection* connection, std::vector<std::string> capabilities)
    : FakeService(connection, kNotifications, kNotificationsXml), capabilities_(std::move(capabilities)) {
    serve(kNotificationsPath, 0);
    owns_ = own();
}

void FakeNotificationServer::handle(const std::string& sender, const std::string&, const std::string& method,
                                    GVariant* parameters, GDBusMethodInvocation* invocation) {
    if (method == "Notify") {
        notify(sender, parameters, invocation);
    } else if (method == "CloseNotification") {
        guint32 id = 0;
        g_variant_get(parameters, "(u)", &id);
        closeCalls_.push_back(id);
        close(id, kClosedByCall);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (method == "GetCapabilities") {
        GVariantBuilder names;
        g_variant_builder_init(&names, G_VARIANT_TYPE_STRING_ARRAY);
        for (const auto& capability : capabilities_) g_variant_builder_add(&names, "s", capability.c_str());
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(as)", &names));
    }
}

void FakeNotificationServer::notify(const std::string& sender, GVariant* parameters,
                                    GDBusMethodInvocation* invocation) {
    NotifyCall call;
    call.sender = sender;
    const char* body = nullptr;
    GVariant* hints = nullptr;
    g_variant_get(parameters, "(&su&s&s&sas@a{sv}i)", nullptr, &call.replacesId, nullptr, nullptr, &body, nullptr,
                  &hints, &call.expireTimeout);
    call.body = body;
    call.hints.reset(hints, &g_variant_unref);
    if (refuses_) {
        notifyCalls_.push_back(std::move(call));
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.AccessDenied",
                                                   "Notifications are turned off");
        return;
    }
    // A notification on screen is replaced in place; any other id gets a new one, as the protocol asks.
    call.id = shown_.contains(call.replacesId) ? call.replacesId : nextId_++;
    gboolean resident = FALSE;
    g_variant_lookup(hints, "resident", "b", &resident);
    shown_[call.id] = {sender, resident != FALSE};
    const guint32 id = call.id;
    notifyCalls_.push_back(std::move(call));
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", id));
}

void FakeNotificationServer::close(std::uint32_t id, std::uint32_t reason) {
    const auto found = shown_.find(id);
    if (found == shown_.end()) return;
    const std::string poster = found->second.poster;
    shown_.erase(found);
    emit("NotificationClosed", g_variant_new("(uu)", id, reason), poster);
}

bool FakeNotificationServer::click(std::uint32_t id) {
    const auto found = shown_.find(id);
    if (found == shown_.end()) return false;
    const Shown shown = found->second;
    g_autofree char* token = g_strdup_printf("velmora-test-token-%u", id);
    emit("ActivationToken", g_variant_new("(us)", id, token), shown.poster);
    emit("ActionInvoked", g_variant_new("(us)", id, "default"), shown.poster);
    if (!shown.resident) close(id, kDismissed);
    return true;
}

void FakeNotificationServer::emit(const char* signal, GVariant* parameters, const std::string& destination) {
    const std::string to = destination.empty() && !notifyCalls_.empty() ? notifyCalls_.back().sender : destination;
    FakeService::emit(to, kNotificationsPath, kNotifications, signal, parameters);
}

FakeSessionManager::FakeSessionManager(GDBusConnection* connection)
    : FakeService(connection, "org.gnome.SessionManager", kSessionXml) {
    serve(kManagerPath, 0);
    serve(kControlPath, 2);
}

FakeSessionManager::~FakeSessionManager() {
    if (held_) answerHeld();
}

void FakeSessionManager::answerHeld() {
    g_dbus_method_invocation_return_value(held_, g_variant_new("(o)", clients_.back().c_str()));
    held_ = nullptr;
}

void FakeSessionManager::emitToClients(const char* signal) {
    // QueryEndSession and EndSession carry flags; none is set.
    const std::string_view name(signal);
    const bool flags = name == "QueryEndSession" || name == "EndSession";
    for (const auto& client : clients_)
        FakeService::emit("", client, kClientInterface, signal, flags ? g_variant_new("(u)", 0U) : nullptr);
}

void FakeSessionManager::endSession() {
    querying_ = true;
    agreed_ = 0;
    emitToClients("QueryEndSession");
}

void FakeSessionManager::handle(const std::string&, const std::string& path, const std::string& method,
                                GVariant* parameters, GDBusMethodInvocation* invocation) {
    if (method == "RegisterClient") {
        const char *application = nullptr, *startup = nullptr;
        g_variant_get(parameters, "(&s&s)", &application, &startup);
        record(std::string("register ") + application + " " + startup);
        if (refuses_) {
            g_dbus_method_invocation_return_dbus_error(invocation, "org.gnome.SessionManager.NotInInitialization",
                                                       "trop tard");
            return;
        }
        // The client's object exists once it is registered, as in gnome-session.
        clients_.push_back(std::string(kManagerPath) + "/Client" + std::to_string(clients_.size() + 1));
        serve(clients_.back(), 1);
        if (holds_) {
            holds_ = false;
            held_ = invocation;
        } else {
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", clients_.back().c_str()));
        }
    } else if (method == "EndSessionResponse") {
        gboolean ok = FALSE;
        const char* reason = nullptr;
        g_variant_get(parameters, "(b&s)", &ok, &reason);
        record("response " + path + (ok ? " true " : " false ") + reason);
        g_dbus_method_invocation_return_value(invocation, nullptr);
        if (querying_ && ok && ++agreed_ == clients_.size()) {
            querying_ = false;
            emitToClients("EndSession");
        }
    } else if (method == "EndSession") {
        endSession();
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (method == "Shutdown") {
        if (onShutdown) onShutdown();
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }
}

FakeLogind::FakeLogind(GDBusConnection* connection) : FakeService(connection, "org.freedesktop.login1", kLogindXml) {
    serve(kLogindPath, 0);
}

FakeLogind::~FakeLogind() {
    for (const auto& inhibitor : inhibitors_) {
        if (inhibitor->reader < 0) continue;
        g_source_remove(inhibitor->watch);
        ::close(inhibitor->reader);
    }
}

void FakeLogind::announceShutdown(bool starting) {
    FakeService::emit("", kLogindPath, kLogindInterface, "PrepareForShutdown", g_variant_new("(b)", starting));
}

gboolean FakeLogind::onHangUp(gint reader, GIOCondition, gpointer data) {
    auto* inhibitor = static_cast<Inhibitor*>(data);
    ::close(reader);
    inhibitor->reader = -1;
    inhibitor->logind->record("released " + std::to_string(inhibitor->number));
    return G_SOURCE_REMOVE;
}

void FakeLogind::handle(const std::string&, const std::string&, const std::string& method, GVariant* parameters,
                        GDBusMethodInvocation* invocation) {
    if (method != "Inhibit") return;
    const char *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
    g_variant_get(parameters, "(&s&s&s&s)", &what, &who, &why, &mode);
    record(std::string("inhibit ") + what + "|" + who + "|" + why + "|" + mode);
    int ends[2];
    if (refuses_ || pipe(ends) != 0) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.AccessDenied", "non");
        return;
    }
    auto& inhibitor = inhibitors_.emplace_back(new Inhibitor{this, inhibitors_.size() + 1, ends[0], 0});
    inhibitor->watch = g_unix_fd_add(ends[0], G_IO_HUP, &FakeLogind::onHangUp, inhibitor.get());
    g_autoptr(GUnixFDList) descriptors = g_unix_fd_list_new();
    const int index = g_unix_fd_list_append(descriptors, ends[1], nullptr);  // keeps a copy of its own
    ::close(ends[1]);
    g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, g_variant_new("(h)", index), descriptors);
}

}  // namespace velmora_test
