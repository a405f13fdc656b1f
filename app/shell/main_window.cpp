// The menus, the web view and the window, built once at launch; showing the window again.
#include "app/texts.h"
#include "app/velmora.h"
#include "app/web/print_limits.h"

namespace velmora {

namespace {
constexpr int kWindowWidth = 1200;
constexpr int kWindowHeight = 820;
constexpr std::size_t kMessageLimit = std::size_t{1024} * 1024;

// Handlers without a target: the platform sends them to the focused web view.
struct EditItem {
    const char* title;
    const char* selector;
    const char* key;
};
constexpr EditItem kEditItems[] = {
    {"Annuler", "undo:", "z"},
    {"Couper", "cut:", "x"},
    {"Copier", "copy:", "c"},
    {"Coller", "paste:", "v"},
    {"Tout sélectionner", "selectAll:", "a"},
};
}  // namespace

std::string Velmora::versionText() const {
    return platform_.bundle.infoString("CFBundleShortVersionString").value_or(std::string());
}

std::string Velmora::aboutTitle() const { return texts::kAboutPrefix + versionText(); }

// The version line of the about panel reads as the desktop's own about panels do: the version
// with the running build's number in parentheses, one number alone when there is only one or
// both are the same.
std::string Velmora::aboutVersion() const {
    const std::string version = versionText();
    if (version.empty() && runningBuild.empty()) return {};
    if (version.empty() || version == runningBuild) return texts::kAboutVersionPrefix + runningBuild;
    if (runningBuild.empty()) return texts::kAboutVersionPrefix + version;
    return texts::kAboutVersionPrefix + version + " (" + runningBuild + ")";
}

void Velmora::buildMainMenu() {
    auto menu = platform_.application.makeMainMenu();

    platform::Menu& appMenu = menu->addSubmenu(texts::kProductName);
    const platform::AboutPanel about{texts::kProductName, aboutVersion(), texts::kAboutComments};
    appMenu.addItem({aboutTitle(), "orderFrontStandardAboutPanel:", ""},
                    weakly([this, about] { platform_.panels.showAboutPanel(about); }));
    appMenu.addSeparator();
    appMenu.addItem({texts::kCheckForUpdates, "checkForUpdates:", ""},
                    weakly([this] { updaterController->checkForUpdates(); }));
    appMenu.addSeparator();
    appMenu.addItem({texts::kQuit, "terminate:", "q"}, weakly([this] { platform_.application.terminate(); }));
    noticeStatus = appMenu.addItem({texts::kStatusSignInNeeded, "", ""}, {});
    loginStatus =
        appMenu.addItem({texts::kLoginStartInitial, "toggleLoginStart", ""}, weakly([this] { toggleLoginStart(); }));
    // Login start shows its real state from the start, before the remaining items exist.
    configureLoginStart();
    appMenu.addItem({texts::kTestNotice, "testNativeNotice", ""}, weakly([this] { testNativeNotice(); }));
    appMenu.addItem({texts::kStopService, "stopNativeService", ""}, weakly([this] { stopNativeService(); }));

    platform::Menu& editMenu = menu->addSubmenu("Édition");
    for (const EditItem& item : kEditItems) editMenu.addItem({item.title, item.selector, item.key}, {});

    platform::Menu& navigationMenu = menu->addSubmenu("Navigation");
    navigationMenu.addItem({"Changer d’espace", "changeSpace", ""}, weakly([this] { changeSpace(); }));
    navigationMenu.addItem({"Actualiser", "reload", "r"}, weakly([this] { reload(); }));
    navigationMenu.addItem({"Ouvrir dans le navigateur", "safari", ""}, weakly([this] { safari(); }));

    platform_.application.setMainMenu(std::move(menu));
}

platform::WebViewConfiguration Velmora::webViewConfiguration() {
    platform::WebViewConfiguration configuration;
    configuration.persistentDataStore = true;
    configuration.messageHandler = this;
    // Every message is a few bytes, but for a print request, which may carry a whole PDF
    // document as Base64; anything larger than that is dropped before it is read.
    configuration.messageHandlers = {{"velmoraInstance", kMessageLimit},
                                     {"velmoraPrint", kMaximumPdfText + kMessageLimit},
                                     {"velmoraUpdate", kMessageLimit},
                                     {"velmoraMailRead", kMessageLimit},
                                     {"velmoraNoticeRead", kMessageLimit}};
    const foundation::JsValue desktop(foundation::JsValue::Object{
        {"version", foundation::JsValue(versionText())},
        {"build", foundation::JsValue(runningBuild)},
    });
    configuration.userScripts = {
        {"Object.defineProperty(window,'velmoraDesktop',{value:Object.freeze(" + desktop.toJson() + ")});",
         platform::UserScriptInjectionTime::DocumentStart, true},
        {"window.print=()=>window.webkit.messageHandlers.velmoraPrint.postMessage('print')",
         platform::UserScriptInjectionTime::DocumentEnd, true},
    };
    return configuration;
}

void Velmora::buildWebViewAndWindow() {
    web = platform_.views.makeWebView(webViewConfiguration());
    web->setNavigationDelegate(this);
    web->setUIDelegate(this);
    window = platform_.views.makeWindow(kWindowWidth, kWindowHeight, texts::kProductName);
    window->setContentView(*web);
    window->setReleasedWhenClosed(false);
    window->center();
}

void Velmora::showNativeWindow() {
    endRest();
    platform_.application.setActivationPolicy(platform::ActivationPolicy::Regular);
    window->makeKeyAndOrderFront();
    platform_.application.activateIgnoringOtherApps();
    // The page never finished loading: try again now rather than at the next retry tick.
    if (pendingConnectionURL) {
        if (connectionRetry) connectionRetry->invalidate();
        connectionRetry.reset();
        web->load(*pendingConnectionURL);
    }
}

bool Velmora::applicationShouldHandleReopen(bool /*hasVisibleWindows*/) {
    showNativeWindow();
    return true;
}

}  // namespace velmora
