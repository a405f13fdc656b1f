#include "platform/gtk/run.h"

#include <cstdlib>

#include "platform/gtk/app_bundle.h"
#include "platform/gtk/app_entry.h"
#include "platform/gtk/autostart.h"
#include "platform/gtk/context.h"
#include "platform/gtk/glib_timers.h"
#include "platform/gtk/gtk_application.h"
#include "platform/gtk/gtk_panels.h"
#include "platform/gtk/gtk_views.h"
#include "platform/gtk/keyfile_defaults.h"
#include "platform/gtk/launcher_entry.h"
#include "platform/gtk/notification_center.h"
#include "platform/gtk/null_services.h"
#include "platform/gtk/printing.h"
#include "platform/gtk/session_manager_client.h"
#include "platform/gtk/single_instance.h"
#include "platform/gtk/status_notifier_item.h"
#include "platform/gtk/system_services.h"
#include "platform/gtk/updater/gtk_updater.h"

namespace gtk {

namespace {

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

// The session bus, or nullptr without one.
std::unique_ptr<GDBusConnection, ObjectUnref> sessionBus() {
    return std::unique_ptr<GDBusConnection, ObjectUnref>(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
}

std::unique_ptr<AppBundle> runningBundle() {
    std::unique_ptr<AppBundle> bundle = AppBundle::fromRunningExecutable();
    // Without /proc the running copy cannot find its bundle; it still runs, with no bundle facts.
    if (!bundle) bundle = std::make_unique<AppBundle>(std::string());
    return bundle;
}

// The running application: every platform service and the controller on top of them. Only the
// primary instance makes one, once GApplication has settled that no other copy runs, because
// the services take over the user's files as they are made: the notification ledger is reset
// for this process's session bus, a damaged defaults file is moved aside. A second launch only
// hands itself over to the running instance (or finds it holding the lock) and ends; it must
// not touch a file of the instance that goes on running.
class Instance {
public:
    Instance(Context& context, const MakeController& makeController, const std::vector<std::string>& arguments)
        : app_(context),
          defaults_(KeyFileDefaults::defaultPath(), log_),
          bundle_(runningBundle()),
          loginItems_(bundle_->bundlePath(), VELMORA_BUNDLE_ID, XdgLoginItems::userAutostartDirectory()),
          appEntry_(bundle_->bundlePath(), VELMORA_BUNDLE_ID, XdgAppEntry::userDataDirectory(),
                    XdgAppEntry::systemDataDirectories()),
          // The centre keeps a reference of its own to the bus.
          notifications_(context, sessionBus().get(), DBusNotificationCenter::settingsFor(*bundle_)),
          updaters_(context, app_, *bundle_, processes_, log_),
          views_(context),
          panels_(context),
          printing_(context),
          statusItems_(context, sessionBus().get(), *bundle_, log_),
          launcherEntry_(sessionBus().get(), VELMORA_BUNDLE_ID),
          platform_{app_,       timers_, clock_,     defaults_,   *bundle_,     files_,
                    processes_, log_,    workspace_, loginItems_, appEntry_,    notifications_,
                    updaters_,  views_,  panels_,    printing_,   statusItems_, launcherEntry_} {
        if (!bundle_->bundlePath().empty()) context.extensionDirectory = bundle_->bundlePath() + "/Contents/PlugIns";
        context.printSetup = &printSetup_;
        // The controller is the application's delegate from its first callback on.
        controller_ = makeController(platform_, arguments);
        app_.setDelegate(controller_.get());
    }

    ~Instance() {
        app_.setDelegate(nullptr);
        controller_.reset();
    }

    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;
    Instance(Instance&&) = delete;
    Instance& operator=(Instance&&) = delete;

private:
    GtkApplicationAdapter app_;
    GLibTimers timers_;
    SystemClock clock_;
    SystemLog log_;
    KeyFileDefaults defaults_;
    std::unique_ptr<AppBundle> bundle_;
    LocalFiles files_;
    DetachedProcesses processes_;
    GioWorkspace workspace_;
    XdgLoginItems loginItems_;
    XdgAppEntry appEntry_;
    DBusNotificationCenter notifications_;
    GtkUpdaterFactory updaters_;
    GtkViews views_;
    GtkPanels panels_;
    PrintSetup printSetup_;
    PopplerPrinting printing_;
    StatusNotifierItems statusItems_;
    UnityLauncherEntry launcherEntry_;
    platform::Platform platform_;
    std::unique_ptr<platform::ApplicationDelegate> controller_;
};

struct Launch {
    Context* context = nullptr;
    MakeController makeController;
    std::vector<std::string> arguments;
    std::unique_ptr<Instance> instance;
    bool firstActivation = true;
};

// GApplication emits "startup" in the primary instance only, before the first activation.
void onStartup(GApplication*, gpointer data) {
    auto* launch = static_cast<Launch*>(data);
    launch->instance = std::make_unique<Instance>(*launch->context, launch->makeController, launch->arguments);
    launch->context->delegate->applicationWillFinishLaunching();
    launch->context->delegate->applicationDidFinishLaunching();
}

void onActivate(GApplication*, gpointer data) {
    auto* launch = static_cast<Launch*>(data);
    // The first activation belongs to this process's own launch, which has already decided
    // whether the window shows. Every later one is a second launch of the application while
    // it runs: a reopen.
    if (launch->firstActivation) {
        launch->firstActivation = false;
        return;
    }
    Context& context = *launch->context;
    if (!context.delegate) return;
    const bool visible = context.mainWindow && gtk_widget_get_visible(GTK_WIDGET(context.mainWindow));
    context.delegate->applicationShouldHandleReopen(visible);
}

gint onHandleLocalOptions(GApplication* application, GVariantDict* options, gpointer data) {
    // Another instance holds the lock. Over the session bus GApplication hands this launch to it;
    // where the bus cannot reach it, this launch has nothing to do.
    auto* instanceLock = static_cast<InstanceLock*>(data);
    if (!instanceLock->acquire() && !instanceRunsOnSessionBus(g_application_get_application_id(application))) return 0;
    // A login launch while the application already runs must not bring its window up: the
    // running instance stays as it is.
    if (g_variant_dict_contains(options, "background")) {
        GError* error = nullptr;
        if (g_application_register(application, nullptr, &error) && g_application_get_is_remote(application)) return 0;
        g_clear_error(&error);
    }
    return -1;
}

// The console is forms and lists: drawing it with cairo is as smooth as with OpenGL, and
// without an OpenGL context the process keeps about a hundred MiB less for the whole day it
// runs (Mesa's drivers and buffers), and starts faster. A renderer the user chose still holds.
void preferSoftwareRendering() { g_setenv("GSK_RENDERER", "cairo", FALSE); }

}  // namespace

int runApplication(int argc, char** argv, const MakeController& makeController) {
    preferSoftwareRendering();
    Context context;
    // The session manager gives a start id to the programs it starts from the autostart folder.
    context.autostarted = !sessionStartId().empty();

    GtkApplication* application = gtk_application_new(VELMORA_BUNDLE_ID, G_APPLICATION_DEFAULT_FLAGS);
    context.application = application;
    g_application_add_main_option(G_APPLICATION(application), "background", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE,
                                  "Démarrer en arrière-plan, sans fenêtre", nullptr);

    InstanceLock instanceLock(InstanceLock::defaultPath(VELMORA_BUNDLE_ID));
    Launch launch{&context, makeController, std::vector<std::string>(argv, argv + argc), nullptr, true};
    g_signal_connect(application, "startup", G_CALLBACK(onStartup), &launch);
    g_signal_connect(application, "activate", G_CALLBACK(onActivate), &launch);
    g_signal_connect(application, "handle-local-options", G_CALLBACK(onHandleLocalOptions), &instanceLock);

    const int status = g_application_run(G_APPLICATION(application), argc, argv);

    launch.instance.reset();
    g_object_unref(application);
    return status;
}

}  // namespace gtk
