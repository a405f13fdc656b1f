#include "platform/gtk/run.h"

#include <cstdlib>

#include "platform/gtk/app_bundle.h"
#include "platform/gtk/autostart.h"
#include "platform/gtk/context.h"
#include "platform/gtk/glib_timers.h"
#include "platform/gtk/gtk_application.h"
#include "platform/gtk/gtk_panels.h"
#include "platform/gtk/gtk_views.h"
#include "platform/gtk/keyfile_defaults.h"
#include "platform/gtk/notification_center.h"
#include "platform/gtk/null_services.h"
#include "platform/gtk/printing.h"
#include "platform/gtk/session_manager_client.h"
#include "platform/gtk/single_instance.h"
#include "platform/gtk/system_services.h"
#include "platform/gtk/updater/gtk_updater.h"

namespace gtk {

namespace {

struct Launch {
    Context* context = nullptr;
    bool firstActivation = true;
};

void onStartup(GApplication*, gpointer data) {
    auto* launch = static_cast<Launch*>(data);
    if (!launch->context->delegate) return;
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

int runApplication(int argc, char** argv,
                   const std::function<std::unique_ptr<platform::ApplicationDelegate>(
                       platform::Platform&, const std::vector<std::string>& arguments)>& makeController) {
    preferSoftwareRendering();
    Context context;
    // The session manager gives a start id to the programs it starts from the autostart folder.
    context.autostarted = !sessionStartId().empty();

    const std::vector<std::string> arguments(argv, argv + argc);
    GtkApplication* application = gtk_application_new(VELMORA_BUNDLE_ID, G_APPLICATION_DEFAULT_FLAGS);
    context.application = application;
    g_application_add_main_option(G_APPLICATION(application), "background", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE,
                                  "Démarrer en arrière-plan, sans fenêtre", nullptr);

    GtkApplicationAdapter app(context);
    GLibTimers timers;
    SystemClock clock;
    KeyFileDefaults defaults(KeyFileDefaults::defaultPath());
    std::unique_ptr<AppBundle> bundle = AppBundle::fromRunningExecutable();
    // Without /proc the running copy cannot find its bundle; it still runs, with no bundle facts.
    if (!bundle) bundle = std::make_unique<AppBundle>(std::string());
    if (!bundle->bundlePath().empty()) context.extensionDirectory = bundle->bundlePath() + "/Contents/PlugIns";
    LocalFiles files;
    DetachedProcesses processes;
    SystemLog log;
    GioWorkspace workspace;
    XdgLoginItems loginItems(bundle->bundlePath(), VELMORA_BUNDLE_ID, XdgLoginItems::userAutostartDirectory());
    g_autoptr(GDBusConnection) sessionBus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    DBusNotificationCenter notifications(context, sessionBus, DBusNotificationCenter::settingsFor(*bundle));
    GtkUpdaterFactory updaters(context, app, *bundle, processes);
    GtkViews views(context);
    GtkPanels panels(context);
    PrintSetup printSetup;
    context.printSetup = &printSetup;
    PopplerPrinting printing(context);
    platform::Platform platform{app,       timers,     clock,         defaults, *bundle, files,  processes, log,
                                workspace, loginItems, notifications, updaters, views,   panels, printing};

    // The controller exists before the loop runs and is the application's delegate.
    std::unique_ptr<platform::ApplicationDelegate> controller = makeController(platform, arguments);
    app.setDelegate(controller.get());

    Launch launch{&context};
    InstanceLock instanceLock(InstanceLock::defaultPath(VELMORA_BUNDLE_ID));
    g_signal_connect(application, "startup", G_CALLBACK(onStartup), &launch);
    g_signal_connect(application, "activate", G_CALLBACK(onActivate), &launch);
    g_signal_connect(application, "handle-local-options", G_CALLBACK(onHandleLocalOptions), &instanceLock);

    const int status = g_application_run(G_APPLICATION(application), argc, argv);

    app.setDelegate(nullptr);
    controller.reset();
    g_object_unref(application);
    return status;
}

}  // namespace gtk
