#include "platform/gtk/gtk_views.h"

#include <malloc.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/gtk/js_convert.h"
#include "platform/gtk/printing.h"
#include "platform/gtk/web-extension/bridge_message.h"

namespace gtk {

namespace {

std::string appDirectory(const char* base) {
    char* path = g_build_filename(base, VELMORA_BUNDLE_ID, nullptr);
    std::string result(path);
    g_free(path);
    return result;
}

// Cookies and site storage live in the user's data and cache directories, so that a user
// who signed in stays signed in across restarts.
WebKitNetworkSession* makePersistentSession() {
    const std::string data = appDirectory(g_get_user_data_dir());
    const std::string cache = appDirectory(g_get_user_cache_dir());
    WebKitNetworkSession* session = webkit_network_session_new(data.c_str(), cache.c_str());
    char* cookies = g_build_filename(data.c_str(), "cookies.sqlite", nullptr);
    webkit_cookie_manager_set_persistent_storage(webkit_network_session_get_cookie_manager(session), cookies,
                                                 WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    g_free(cookies);
    return session;
}

// The web process holds the console all day, mostly in the background. WebKit's default limit
// follows the machine's memory (up to 3 GB), so it never gives back its caches; with a limit
// in the console's range it releases what it does not need once it passes a third of it, and
// is never killed for it (kill threshold 0), since a killed page would miss polls.
constexpr unsigned kWebProcessMemoryLimitMB = 192;

WebKitMemoryPressureSettings* consoleMemoryPressure() {
    WebKitMemoryPressureSettings* settings = webkit_memory_pressure_settings_new();
    webkit_memory_pressure_settings_set_memory_limit(settings, kWebProcessMemoryLimitMB);
    webkit_memory_pressure_settings_set_kill_threshold(settings, 0);
    return settings;
}

// Every web process of the context loads the extension that gives frames their message
// handlers; the extension's folder must be visible inside the web process sandbox.
void prepareWebProcessExtension(WebKitWebContext* webContext, const std::string& directory,
                                const std::vector<std::string>& handlerNames) {
    webkit_web_context_add_path_to_sandbox(webContext, directory.c_str(), TRUE);
    struct Setup {
        std::string directory;
        std::vector<std::string> names;
    };
    auto* setup = new Setup{directory, handlerNames};
    g_signal_connect_data(
        webContext, "initialize-web-process-extensions", G_CALLBACK(+[](WebKitWebContext* context, gpointer data) {
            const auto* setup = static_cast<Setup*>(data);
            webkit_web_context_set_web_process_extensions_directory(context, setup->directory.c_str());
            std::vector<const char*> names;
            for (const auto& name : setup->names) names.push_back(name.c_str());
            webkit_web_context_set_web_process_extensions_initialization_user_data(
                context, g_variant_new_strv(names.data(), static_cast<gssize>(names.size())));
        }),
        setup, +[](gpointer data, GClosure*) { delete static_cast<Setup*>(data); }, G_CONNECT_DEFAULT);
}

// A web context of the view's own, since the memory settings can only be given at construction.
WebKitWebContext* makeWebContext(const std::string& extensionDirectory, const std::vector<std::string>& handlerNames) {
    g_autoptr(WebKitMemoryPressureSettings) memory = consoleMemoryPressure();
    auto* webContext =
        WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "memory-pressure-settings", memory, nullptr));
    if (!extensionDirectory.empty()) prepareWebProcessExtension(webContext, extensionDirectory, handlerNames);
    return webContext;
}

// A download of WebKit, attached to it for as long as it lives.
class GtkDownload final : public platform::Download {
public:
    explicit GtkDownload(WebKitDownload* download) : download_(download) {
        g_signal_connect(download_, "decide-destination", G_CALLBACK(onDecideDestination), this);
    }
    void setDelegate(platform::DownloadDelegate* delegate) override { delegate_ = delegate; }

    // Attaches a new adapter to `download`; it is freed with the download.
    static GtkDownload& attach(WebKitDownload* download) {
        auto* adapter = new GtkDownload(download);
        g_object_set_data_full(
            G_OBJECT(download), "velmora-download", adapter,
            +[](gpointer data) { delete static_cast<GtkDownload*>(data); });
        return *adapter;
    }

private:
    static gboolean onDecideDestination(WebKitDownload* download, const gchar* suggested, gpointer data) {
        auto* self = static_cast<GtkDownload*>(data);
        if (!self->delegate_) return FALSE;
        g_object_ref(download);
        self->delegate_->decideDestination(*self, suggested ? suggested : "",
                                           [download](std::optional<std::string> path) {
                                               if (path) {
                                                   webkit_download_set_allow_overwrite(download, TRUE);
                                                   webkit_download_set_destination(download, path->c_str());
                                               } else {
                                                   webkit_download_cancel(download);
                                               }
                                               g_object_unref(download);
                                           });
        return TRUE;  // the answer may come later, from the save dialog
    }

    WebKitDownload* download_;
    platform::DownloadDelegate* delegate_ = nullptr;
};

// Whether a load that ended early leaves the page as it was rather than failing: one replaced by
// a newer load, and one the engine's policy stopped before anything was sent. The latter covers
// a load that became a download ("interrupted by policy change") and a link of a scheme the view
// cannot show (smb:, another program's scheme): neither is a connection problem, and retrying
// them would only put an error page in place of the console every 15 seconds.
bool endsWithoutFailure(const GError* error) {
    return g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
           (error && error->domain == WEBKIT_POLICY_ERROR);
}

// Whether the server marked the response for saving rather than showing.
bool isAttachment(WebKitURIResponse* response) {
    SoupMessageHeaders* headers = response ? webkit_uri_response_get_http_headers(response) : nullptr;
    g_autofree char* disposition = nullptr;
    if (!headers || !soup_message_headers_get_content_disposition(headers, &disposition, nullptr)) return false;
    return g_ascii_strcasecmp(disposition, "attachment") == 0;
}

constexpr const char* kUnreachablePage =
    "<!doctype html><html lang=\"fr\"><head><meta charset=\"utf-8\"><title>Velmóra</title>"
    "<style>body{font:15px system-ui,sans-serif;color:#333;margin:0;display:flex;align-items:center;"
    "justify-content:center;height:100vh;background:#faf8f5}main{max-width:28rem;text-align:center}"
    "h1{font-size:1.3rem;color:#6e3a5a}</style></head><body><main><h1>Connexion impossible pour le moment</h1>"
    "<p>Le service ne répond pas. Velmóra réessaiera automatiquement dans quelques secondes.</p></main>"
    "</body></html>";

class GtkWebView final : public platform::WebView {
public:
    GtkWebView(Context& context, const platform::WebViewConfiguration& configuration)
        : context_(context), handler_(configuration.messageHandler), handlers_(configuration.messageHandlers) {
        WebKitUserContentManager* content = webkit_user_content_manager_new();
        for (const auto& script : configuration.userScripts) {
            WebKitUserScript* userScript = webkit_user_script_new(
                script.source.c_str(),
                script.mainFrameOnly ? WEBKIT_USER_CONTENT_INJECT_TOP_FRAME : WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                script.injectionTime == platform::UserScriptInjectionTime::DocumentStart
                    ? WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START
                    : WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END,
                nullptr, nullptr);
            webkit_user_content_manager_add_script(content, userScript);
            webkit_user_script_unref(userScript);
        }
        std::vector<std::string> handlerNames;
        for (const auto& handler : handlers_) handlerNames.push_back(handler.name);
        WebKitWebContext* webContext = makeWebContext(context_.extensionDirectory, handlerNames);
        WebKitNetworkSession* session =
            configuration.persistentDataStore ? makePersistentSession() : webkit_network_session_new_ephemeral();
        g_signal_connect(session, "download-started", G_CALLBACK(onDownloadStarted), this);
        view_ = WEBKIT_WEB_VIEW(
            g_object_ref_sink(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", webContext, "network-session", session,
                                           "user-content-manager", content, nullptr)));
        g_object_unref(webContext);
        g_object_unref(session);
        g_object_unref(content);
        // For the same reason as the window's cairo rendering: no OpenGL compositing in the
        // web process, which halves its memory; the console has nothing that needs it.
        webkit_settings_set_hardware_acceleration_policy(webkit_web_view_get_settings(view_),
                                                         WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
        context_.webView = view_;

        g_signal_connect(view_, "decide-policy", G_CALLBACK(onDecidePolicy), this);
        g_signal_connect(view_, "create", G_CALLBACK(onCreate), this);
        g_signal_connect(view_, "load-changed", G_CALLBACK(onLoadChanged), this);
        g_signal_connect(view_, "load-failed", G_CALLBACK(onLoadFailed), this);
        g_signal_connect(view_, "user-message-received", G_CALLBACK(onUserMessage), this);
        g_signal_connect(view_, "web-process-terminated", G_CALLBACK(onWebProcessTerminated), this);
        g_signal_connect(view_, "script-dialog", G_CALLBACK(onScriptDialog), this);
        g_signal_connect(view_, "run-file-chooser", G_CALLBACK(onRunFileChooser), this);
    }
    ~GtkWebView() override {
        g_signal_handlers_disconnect_by_data(view_, this);
        g_signal_handlers_disconnect_by_data(webkit_web_view_get_network_session(view_), this);
        if (context_.webView == view_) context_.webView = nullptr;
        g_object_unref(view_);
    }
    GtkWebView(const GtkWebView&) = delete;
    GtkWebView& operator=(const GtkWebView&) = delete;

    void setNavigationDelegate(platform::NavigationDelegate* delegate) override { navigation_ = delegate; }
    void setUIDelegate(platform::UIDelegate* delegate) override { ui_ = delegate; }

    void load(const foundation::Url& url) override { webkit_web_view_load_uri(view_, url.string().c_str()); }
    void setResting(bool resting) override {
        WebKitWebContext* webContext = webkit_web_view_get_context(view_);
        // The document viewer's model keeps no memory cache and no page cache, and switching to it
        // empties them; the page in the view stays as it is.
        webkit_web_context_set_cache_model(
            webContext, resting ? WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER : WEBKIT_CACHE_MODEL_WEB_BROWSER);
        if (resting)
            webkit_web_context_send_message_to_all_extensions(
                webContext, webkit_user_message_new(bridge::kReleaseMemoryName, nullptr));
    }

    void reload() override {
        // Nothing to reload before the first load began.
        if (webkit_web_view_get_uri(view_)) webkit_web_view_reload(view_);
    }

    std::optional<foundation::Url> url() const override {
        // The URI is null before content has begun loading.
        const char* uri = webkit_web_view_get_uri(view_);
        if (!uri || !*uri) return std::nullopt;
        return foundation::Url::parse(uri);
    }

    void callAsyncJavaScript(const std::string& body, std::function<void(platform::ScriptResult)> done) override {
        // The callback owns `done`; WebKit always completes the call, also when the page goes away.
        auto* callback = new std::function<void(platform::ScriptResult)>(std::move(done));
        const std::string function = answeringAsJsonText(body);
        webkit_web_view_call_async_javascript_function(view_, function.c_str(), static_cast<gssize>(function.size()),
                                                       nullptr, nullptr, nullptr, nullptr, onScriptFinished, callback);
    }

    void evaluateJavaScript(const std::string& source) override {
        webkit_web_view_evaluate_javascript(view_, source.c_str(), static_cast<gssize>(source.size()), nullptr, nullptr,
                                            nullptr, nullptr, nullptr);
    }

    std::unique_ptr<platform::PrintOperation> printOperation() override {
        return makeWebPrintOperation(context_, view_);
    }

    GtkWidget* widget() const { return GTK_WIDGET(view_); }

private:
    static void onScriptFinished(GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<std::function<void(platform::ScriptResult)>> done(
            static_cast<std::function<void(platform::ScriptResult)>*>(data));
        GError* error = nullptr;
        JSCValue* value =
            webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error);
        if (!value) {
            std::string message = error ? error->message : "script failed";
            g_clear_error(&error);
            (*done)(message);
            return;
        }
        foundation::JsValue converted;
        if (jsc_value_is_string(value)) {
            g_autofree char* json = jsc_value_to_string(value);
            converted = fromJsonText(json ? json : "");
        } else {
            converted = toJsValue(value);
        }
        g_object_unref(value);
        (*done)(std::move(converted));
    }

    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                   gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        if (!self->navigation_) return FALSE;
        if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
            auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
            platform::NavigationResponse facts{
                static_cast<bool>(webkit_response_policy_decision_is_mime_type_supported(response)),
                isAttachment(webkit_response_policy_decision_get_response(response))};
            if (self->navigation_->decidePolicyForNavigationResponse(facts) == platform::ResponsePolicy::Download)
                webkit_policy_decision_download(decision);
            else
                webkit_policy_decision_use(decision);
            return TRUE;
        }
        auto* navigation = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
        WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(navigation);
        WebKitURIRequest* request = webkit_navigation_action_get_request(action);
        platform::NavigationAction facts;
        const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        if (uri) facts.url = foundation::Url::parse(uri);
        // WebKitGTK asks about navigations of the main frame and of embedded frames alike and
        // does not say which frame a navigation is for (webkit_navigation_action_is_for_main_frame
        // is proposed upstream, not released in 2.50); the main frame's loads are reported once
        // they start, see onLoadChanged. Remove this when the distributions' WebKitGTK has it.
        facts.target = type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION ? platform::NavigationTarget::NewWindow
                                                                             : platform::NavigationTarget::UnknownFrame;
        switch (self->navigation_->decidePolicyForNavigationAction(facts)) {
            case platform::NavigationPolicy::Cancel:
                webkit_policy_decision_ignore(decision);
                break;
            case platform::NavigationPolicy::Download:
                webkit_policy_decision_download(decision);
                break;
            case platform::NavigationPolicy::Allow:
                webkit_policy_decision_use(decision);
                break;
        }
        return TRUE;
    }

    static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        if (self->navigation_) {
            platform::NavigationAction facts;
            facts.target = platform::NavigationTarget::NewWindow;
            WebKitURIRequest* request = webkit_navigation_action_get_request(action);
            if (const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr)
                facts.url = foundation::Url::parse(uri);
            self->navigation_->requestNewWebView(facts);
        }
        return nullptr;  // never a second web view
    }

    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        // The page we show in place of one that could not be reached is not a load of the
        // service: it neither ends the retry cycle nor counts as a finished navigation.
        // The failed load finishes first, then the error page runs its own start to finish.
        if (self->errorPageLoading_) {
            if (event == WEBKIT_LOAD_STARTED) self->errorPageStarted_ = true;
            if (event == WEBKIT_LOAD_FINISHED && self->errorPageStarted_) self->errorPageLoading_ = false;
            return;
        }
        switch (event) {
            case WEBKIT_LOAD_STARTED:
                self->committed_ = false;
                self->failed_ = false;
                if (self->navigation_) self->navigation_->didStartProvisionalNavigation();
                break;
            case WEBKIT_LOAD_REDIRECTED:
                if (self->navigation_) self->navigation_->didStartProvisionalNavigation();
                break;
            case WEBKIT_LOAD_COMMITTED:
                self->committed_ = true;
                break;
            case WEBKIT_LOAD_FINISHED:
                // WebKit also reports a failed load as finished; only a load that did not fail counts.
                if (!self->failed_ && self->navigation_) self->navigation_->didFinishNavigation();
                break;
        }
    }

    static gboolean onLoadFailed(WebKitWebView* view, WebKitLoadEvent, gchar* uri, GError* error, gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        self->failed_ = true;
        if (!self->navigation_) return FALSE;
        // Loads that leave the page as it was are the platform's "cancelled".
        if (endsWithoutFailure(error)) {
            if (!self->committed_)
                self->navigation_->didFailProvisionalNavigation(
                    {platform::NavigationError::kCancelled, error->message});
            return TRUE;
        }
        const platform::NavigationError facts{error ? error->code : 0, error ? error->message : ""};
        if (self->committed_)
            self->navigation_->didFailNavigation(facts);
        else
            self->navigation_->didFailProvisionalNavigation(facts);
        // In place of WebKit's English error page, a French one that says what happens next.
        self->errorPageLoading_ = true;
        self->errorPageStarted_ = false;
        webkit_web_view_load_alternate_html(view, kUnreachablePage, uri, nullptr);
        return TRUE;
    }

    static gboolean onUserMessage(WebKitWebView*, WebKitUserMessage* message, gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        if (g_strcmp0(webkit_user_message_get_name(message), bridge::kMessageName) != 0) return FALSE;
        GVariant* parameters = webkit_user_message_get_parameters(message);
        if (!self->handler_ || !parameters ||
            !g_variant_is_of_type(parameters, G_VARIANT_TYPE(bridge::kParametersType)))
            return TRUE;
        const char* name = nullptr;
        const char* json = nullptr;
        gboolean mainFrame = FALSE;
        const char* scheme = nullptr;
        const char* host = nullptr;
        gint32 port = -1;
        g_variant_get(parameters, "(&s&sb&s&si)", &name, &json, &mainFrame, &scheme, &host, &port);
        // Only the handlers the page was given, from the main frame, with a body of the size the
        // handler expects: anything else is dropped before its body is read. A web process
        // cannot invent handlers, and embedded frames are never heard.
        const auto handler = std::find_if(self->handlers_.begin(), self->handlers_.end(),
                                          [name](const auto& entry) { return entry.name == name; });
        if (handler == self->handlers_.end() || !mainFrame) return TRUE;
        if (std::strlen(json) > handler->maximumBodyBytes) return TRUE;
        platform::SecurityOrigin origin{scheme, host, port < 0 ? std::nullopt : std::optional<int>(port)};
        self->handler_->didReceiveScriptMessage({name, fromJsonText(json), true, std::move(origin)});
        return TRUE;
    }

    static void onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        if (self->navigation_) self->navigation_->webContentProcessDidTerminate();
    }

    static void onDownloadStarted(WebKitNetworkSession*, WebKitDownload* download, gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        if (webkit_download_get_web_view(download) != self->view_ || !self->navigation_) return;
        // WebKitGTK reports a link's download attribute and a response the view cannot show
        // alike, as a started download; both take the same road here.
        self->navigation_->navigationResponseDidBecomeDownload(GtkDownload::attach(download));
    }

    static gboolean onScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        if (!self->ui_) return FALSE;
        const std::string message = webkit_script_dialog_get_message(dialog);
        webkit_script_dialog_ref(dialog);
        // WebKit keeps the page's script waiting until the dialog is closed.
        auto close = [dialog] {
            webkit_script_dialog_close(dialog);
            webkit_script_dialog_unref(dialog);
        };
        switch (webkit_script_dialog_get_dialog_type(dialog)) {
            case WEBKIT_SCRIPT_DIALOG_ALERT:
                self->ui_->runJavaScriptAlert(message, close);
                break;
            case WEBKIT_SCRIPT_DIALOG_CONFIRM:
            case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
                self->ui_->runJavaScriptConfirm(message, [dialog, close](bool confirmed) {
                    webkit_script_dialog_confirm_set_confirmed(dialog, confirmed);
                    close();
                });
                break;
            case WEBKIT_SCRIPT_DIALOG_PROMPT: {
                const char* defaultText = webkit_script_dialog_prompt_get_default_text(dialog);
                std::optional<std::string> text;
                if (defaultText) text = defaultText;
                self->ui_->runJavaScriptTextInput(message, text, [dialog, close](std::optional<std::string> answer) {
                    // Without a text set, the page's prompt() returns null.
                    if (answer) webkit_script_dialog_prompt_set_text(dialog, answer->c_str());
                    close();
                });
                break;
            }
        }
        return TRUE;
    }

    static gboolean onRunFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        if (!self->ui_) return FALSE;
        g_object_ref(request);
        // WebKitGTK does not tell whether the input accepts folders (webkitdirectory).
        platform::OpenPanelParameters parameters{
            static_cast<bool>(webkit_file_chooser_request_get_select_multiple(request)), false};
        self->ui_->runOpenPanel(parameters, [request](std::optional<std::vector<std::string>> files) {
            if (files) {
                std::vector<const char*> paths;
                for (const auto& file : *files) paths.push_back(file.c_str());
                paths.push_back(nullptr);
                webkit_file_chooser_request_select_files(request, paths.data());
            } else {
                webkit_file_chooser_request_cancel(request);
            }
            g_object_unref(request);
        });
        return TRUE;
    }

    Context& context_;
    WebKitWebView* view_ = nullptr;
    platform::ScriptMessageHandler* handler_ = nullptr;
    std::vector<platform::PageMessageHandler> handlers_;
    platform::NavigationDelegate* navigation_ = nullptr;
    platform::UIDelegate* ui_ = nullptr;
    bool committed_ = false;
    bool failed_ = false;
    bool errorPageLoading_ = false;
    bool errorPageStarted_ = false;
};

class GtkWindowAdapter final : public platform::Window {
public:
    GtkWindowAdapter(Context& context, int width, int height, const std::string& title)
        : context_(context), window_(GTK_WINDOW(gtk_application_window_new(context_.application))) {
        g_object_ref(window_);
        gtk_window_set_title(window_, title.c_str());
        gtk_window_set_default_size(window_, width, height);
        gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window_), TRUE);
        g_signal_connect(window_, "close-request", G_CALLBACK(onCloseRequest), this);
        context_.mainWindow = window_;
    }
    ~GtkWindowAdapter() override {
        g_signal_handlers_disconnect_by_data(window_, this);
        if (context_.mainWindow == window_) context_.mainWindow = nullptr;
        g_object_unref(window_);
    }
    GtkWindowAdapter(const GtkWindowAdapter&) = delete;
    GtkWindowAdapter& operator=(const GtkWindowAdapter&) = delete;

    void setContentView(platform::WebView& view) override {
        // Every web view of this adapter comes from GtkViews::makeWebView, so it is one of ours.
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-static-cast-downcast)
        gtk_window_set_child(window_, static_cast<GtkWebView&>(view).widget());
    }
    void setReleasedWhenClosed(bool released) override { gtk_window_set_hide_on_close(window_, !released); }
    void center() override {
        // GTK 4 leaves placement to the window manager, which centres new windows on the
        // common desktops; there is no call to make here.
    }
    void makeKeyAndOrderFront() override { gtk_window_present(window_); }
    void orderOut() override { gtk_widget_set_visible(GTK_WIDGET(window_), FALSE); }
    bool isVisible() const override { return gtk_widget_get_visible(GTK_WIDGET(window_)); }
    bool hasAttachedSheet() const override { return context_.openDialogs > 0; }
    void releaseDrawingResources() override {
        // Unrealised, the window has no surface and no renderer with their buffers and caches;
        // showing it realises it again. The web view in it keeps its page.
        if (!gtk_widget_get_visible(GTK_WIDGET(window_))) gtk_widget_unrealize(GTK_WIDGET(window_));
        // glibc keeps freed memory for later allocations; a resting process has none coming.
        malloc_trim(0);
    }

private:
    static gboolean onCloseRequest(GtkWindow*, gpointer data) {
        auto* self = static_cast<GtkWindowAdapter*>(data);
        // The one window is the last one: let the delegate know before hide-on-close hides it.
        if (self->context_.delegate) self->context_.delegate->applicationShouldTerminateAfterLastWindowClosed();
        return FALSE;
    }

    Context& context_;
    GtkWindow* window_ = nullptr;
};

}  // namespace

std::unique_ptr<platform::WebView> GtkViews::makeWebView(const platform::WebViewConfiguration& configuration) {
    return std::make_unique<GtkWebView>(context_, configuration);
}

std::unique_ptr<platform::Window> GtkViews::makeWindow(int width, int height, const std::string& title) {
    return std::make_unique<GtkWindowAdapter>(context_, width, height, title);
}

}  // namespace gtk
