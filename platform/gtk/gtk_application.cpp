#include "platform/gtk/gtk_application.h"

#include <glib-unix.h>
#include <unistd.h>

#include <cstdio>

#include "platform/gtk/gtk_menu.h"

namespace gtk {

namespace {

// Holds the application for as long as the token lives, so that it runs without windows.
class HoldToken final : public platform::ActivityToken {
public:
    explicit HoldToken(GApplication* application) : application_(G_APPLICATION(g_object_ref(application))) {
        g_application_hold(application_);
    }
    ~HoldToken() override {
        g_application_release(application_);
        g_object_unref(application_);
    }
    HoldToken(const HoldToken&) = delete;
    HoldToken& operator=(const HoldToken&) = delete;

private:
    GApplication* application_;
};

struct QuitSignal {
    Context* context;
    bool withReason;
};

gboolean onQuitSignal(gpointer data) {
    const auto* signal = static_cast<QuitSignal*>(data);
    if (signal->context->delegate) signal->context->delegate->handleQuitEvent(signal->withReason);
    return G_SOURCE_CONTINUE;
}

void onQuitAction(GSimpleAction*, GVariant*, gpointer data) {
    auto* context = static_cast<Context*>(data);
    // A quit asked for over the bus (a script's quit) carries no reason.
    if (context->delegate) context->delegate->handleQuitEvent(false);
}

// Ends the process at once with status 0, once the session bus has carried what is queued on it
// (an answer to the session manager, say). Used where the main loop cannot be left in time.
[[noreturn]] void endProcessNow(GApplication* application) {
    if (GDBusConnection* bus = g_application_get_dbus_connection(application))
        g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    std::fflush(nullptr);
    _exit(0);
}

}  // namespace

GtkApplicationAdapter::GtkApplicationAdapter(Context& context) : context_(context), startupId_(sessionStartId()) {}

void GtkApplicationAdapter::setDelegate(platform::ApplicationDelegate* delegate) { context_.delegate = delegate; }

void GtkApplicationAdapter::setActivationPolicy(platform::ActivationPolicy policy) {
    // There is no task-bar entry without a window on this desktop: the accessory policy is
    // a hidden window while the application hold keeps the process alive.
    if (policy == platform::ActivationPolicy::Accessory && context_.mainWindow)
        gtk_widget_set_visible(GTK_WIDGET(context_.mainWindow), FALSE);
}

void GtkApplicationAdapter::activateIgnoringOtherApps() {
    if (context_.mainWindow && gtk_widget_get_visible(GTK_WIDGET(context_.mainWindow)))
        gtk_window_present(context_.mainWindow);
}

void GtkApplicationAdapter::terminate() {
    if (!context_.delegate || context_.delegate->applicationShouldTerminate() != platform::TerminateReply::Now) return;
    g_application_quit(G_APPLICATION(context_.application));
    // A modal alert waits in a main loop of its own, and the application's loop only stops once
    // that one returns: the process would live on until someone answered the alert, holding up a
    // log out. Asked to end from inside such a loop, it ends on the spot; the user defaults are
    // already on disk, since they are written at every change.
    if (g_main_depth() > 1) endProcessNow(G_APPLICATION(context_.application));
}

bool GtkApplicationAdapter::currentLaunchIsLoginItem() { return context_.autostarted; }

void GtkApplicationAdapter::installQuitEventHandler() {
    GSimpleAction* quit = g_simple_action_new("quit", nullptr);
    g_signal_connect(quit, "activate", G_CALLBACK(onQuitAction), &context_);
    g_action_map_add_action(G_ACTION_MAP(context_.application), G_ACTION(quit));
    g_object_unref(quit);

    // The session ends processes with SIGTERM or SIGHUP when it logs out or shuts down: a
    // quit with a reason. Ctrl+C in a terminal is an ordinary quit request.
    static QuitSignal term{&context_, true}, hangup{&context_, true}, interrupt{&context_, false};
    g_unix_signal_add(SIGTERM, onQuitSignal, &term);
    g_unix_signal_add(SIGHUP, onQuitSignal, &hangup);
    g_unix_signal_add(SIGINT, onQuitSignal, &interrupt);

    // The session manager's end of session and logind's shutdown are quits with a reason too.
    // Both clients live as long as this adapter, which outlives the main loop, so the callbacks
    // never reach a destroyed adapter.
    GDBusConnection* sessionBus = g_application_get_dbus_connection(G_APPLICATION(context_.application));
    sessionClient_ = std::make_unique<SessionManagerClient>(
        sessionBus, g_application_get_application_id(G_APPLICATION(context_.application)), startupId_,
        [this] { systemQuit(); });
    // Connecting to the system bus is a local socket and the bus daemon's greeting; without a
    // system bus (a container, say) it fails at once and nothing is watched.
    g_autoptr(GDBusConnection) systemBus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    // A restart of the system bus must not end the application, as GLib's shared connection
    // would by default.
    if (systemBus) g_dbus_connection_set_exit_on_close(systemBus, FALSE);
    shutdownInhibitor_ = std::make_unique<ShutdownInhibitor>(systemBus, [this] { systemQuit(); });
}

void GtkApplicationAdapter::systemQuit() const {
    if (context_.delegate) context_.delegate->handleQuitEvent(true);
}

std::unique_ptr<platform::ActivityToken> GtkApplicationAdapter::beginBackgroundActivity(const std::string&) {
    return std::make_unique<HoldToken>(G_APPLICATION(context_.application));
}

std::unique_ptr<platform::Menu> GtkApplicationAdapter::makeMainMenu() {
    return std::make_unique<GtkMenuAdapter>(context_);
}

void GtkApplicationAdapter::setMainMenu(std::unique_ptr<platform::Menu> menu) {
    // The menu comes from makeMainMenu above, so it is one of ours.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-static-cast-downcast)
    auto* adapter = static_cast<GtkMenuAdapter*>(menu.get());
    // Exported on the session bus by GtkApplication and shown in the window's menu bar.
    gtk_application_set_menubar(context_.application, adapter->model());
    mainMenu_ = std::move(menu);
}

}  // namespace gtk
