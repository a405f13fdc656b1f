#include "platform/gtk/gtk_application.h"

#include <glib-unix.h>

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

}  // namespace

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
}

std::unique_ptr<platform::ActivityToken> GtkApplicationAdapter::beginBackgroundActivity(const std::string&) {
    return std::make_unique<HoldToken>(G_APPLICATION(context_.application));
}

std::unique_ptr<platform::Menu> GtkApplicationAdapter::makeMainMenu() {
    return std::make_unique<GtkMenuAdapter>(context_);
}

void GtkApplicationAdapter::setMainMenu(std::unique_ptr<platform::Menu> menu) {
    auto* adapter = static_cast<GtkMenuAdapter*>(menu.get());
    // Exported on the session bus by GtkApplication and shown in the window's menu bar.
    gtk_application_set_menubar(context_.application, adapter->model());
    mainMenu_ = std::move(menu);
}

}  // namespace gtk
