// The web view, its configuration and the delegates it calls.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/foundation/js_value.h"
#include "platform/foundation/url.h"

namespace platform {

class Download;
class DownloadDelegate;
class PrintOperation;

// The security origin of a frame, as the web engine has it: scheme and host as written, and
// the port only when it is not the scheme's default.
struct SecurityOrigin {
    std::string scheme;       // empty when the frame has no network origin (about:blank, data:)
    std::string host;         // empty when none
    std::optional<int> port;  // nullopt for the scheme's default port
};

// A message the page posted to a handler under window.webkit.messageHandlers. The frame
// facts come from the web engine, never from the page.
struct ScriptMessage {
    std::string name;
    foundation::JsValue body;
    bool isMainFrame = false;
    SecurityOrigin origin;  // of the sending frame
};

class ScriptMessageHandler {
public:
    virtual ~ScriptMessageHandler() = default;
    // One message from the page, delivered on the main loop; nothing is answered.
    virtual void didReceiveScriptMessage(const ScriptMessage& message) = 0;
};

enum class UserScriptInjectionTime { DocumentStart, DocumentEnd };

struct UserScript {
    std::string source;
    UserScriptInjectionTime injectionTime = UserScriptInjectionTime::DocumentStart;
    bool mainFrameOnly = true;
};

// One handler under window.webkit.messageHandlers.
struct PageMessageHandler {
    std::string name;
    std::size_t maximumBodyBytes = 0;  // a larger body, as JSON text, is dropped unread
    bool operator==(const PageMessageHandler&) const = default;
};

// Everything fixed when the web view is created.
struct WebViewConfiguration {
    bool persistentDataStore = true;  // cookies and site storage survive between runs
    ScriptMessageHandler* messageHandler = nullptr;
    std::vector<PageMessageHandler> messageHandlers;  // in registration order, in the page world
    std::vector<UserScript> userScripts;              // in injection order, in the page world
};

// Where a navigation is to happen.
enum class NavigationTarget {
    MainFrame,     // the page itself
    SubFrame,      // a frame embedded in the page
    NewWindow,     // a window the page asks for
    UnknownFrame,  // the page or one of its frames: the engine does not say which
};

// What the page asks to open.
struct NavigationAction {
    std::optional<foundation::Url> url;
    NavigationTarget target = NavigationTarget::UnknownFrame;
    bool shouldPerformDownload = false;
};

enum class NavigationPolicy { Cancel, Allow, Download };
enum class ResponsePolicy { Allow, Download };

struct NavigationResponse {
    bool canShowMimeType = true;
    bool isAttachment = false;  // the server marked it for saving (Content-Disposition: attachment)
};

struct NavigationError {
    // The code of a load the engine cancelled itself (a newer load replaced it).
    static constexpr int kCancelled = -999;
    int code = 0;
    std::string description;  // the platform's own text for the error
};

class NavigationDelegate {
public:
    virtual ~NavigationDelegate() = default;
    // Decides what happens with a navigation the page or the user started.
    virtual NavigationPolicy decidePolicyForNavigationAction(const NavigationAction& action) = 0;
    // Decides whether a response is shown or saved as a download.
    virtual ResponsePolicy decidePolicyForNavigationResponse(const NavigationResponse& response) = 0;
    // A navigation action became the download `download`.
    virtual void navigationActionDidBecomeDownload(Download& download) = 0;
    // A navigation response became the download `download`.
    virtual void navigationResponseDidBecomeDownload(Download& download) = 0;
    // The page asked for a new web view; the application never creates one.
    virtual void requestNewWebView(const NavigationAction& action) = 0;
    // The main frame began loading the page that url() now reports, or was redirected to it.
    virtual void didStartProvisionalNavigation() = 0;
    // The main frame finished loading.
    virtual void didFinishNavigation() = 0;
    // The main frame's load failed before any content arrived, with kCancelled for a load that
    // left the page as it was (replaced by a newer one, or turned into a download).
    virtual void didFailProvisionalNavigation(const NavigationError& error) = 0;
    // The main frame's load failed after content began to arrive, and the view shows the
    // application's own page in its place.
    virtual void didFailNavigation(const NavigationError& error) = 0;
    // The process that ran the page ended (crashed, or killed); the view shows no live page.
    virtual void webContentProcessDidTerminate() = 0;
};

struct OpenPanelParameters {
    bool allowsMultipleSelection = false;
    bool allowsDirectories = false;
};

// The page's dialogs. Each completion must be called exactly once, on the main loop.
class UIDelegate {
public:
    virtual ~UIDelegate() = default;
    // window.alert(message).
    virtual void runJavaScriptAlert(const std::string& message, std::function<void()> done) = 0;
    // window.confirm(message).
    virtual void runJavaScriptConfirm(const std::string& message, std::function<void(bool)> done) = 0;
    // window.prompt(prompt, defaultText); nullopt answers null.
    virtual void runJavaScriptTextInput(const std::string& prompt, const std::optional<std::string>& defaultText,
                                        std::function<void(std::optional<std::string>)> done) = 0;
    // A file input was clicked; nullopt leaves the input unchanged.
    virtual void runOpenPanel(const OpenPanelParameters& parameters,
                              std::function<void(std::optional<std::vector<std::string>>)> done) = 0;
};

class Download {
public:
    virtual ~Download() = default;
    // Makes `delegate` the one that chooses this download's destination.
    virtual void setDelegate(DownloadDelegate* delegate) = 0;
};

class DownloadDelegate {
public:
    virtual ~DownloadDelegate() = default;
    // Chooses where the download is saved; nullopt cancels it.
    virtual void decideDestination(Download& download, const std::string& suggestedFilename,
                                   std::function<void(std::optional<std::string> path)> done) = 0;
};

// Result of an asynchronous script: its value, or the engine's error text.
using ScriptResult = std::variant<foundation::JsValue, std::string>;

class WebView {
public:
    virtual ~WebView() = default;
    // Makes `delegate` receive the navigation decisions and load results.
    virtual void setNavigationDelegate(NavigationDelegate* delegate) = 0;
    // Makes `delegate` show the page's dialogs.
    virtual void setUIDelegate(UIDelegate* delegate) = 0;
    // Starts loading `url` with a plain request (default cache policy and time-out).
    virtual void load(const foundation::Url& url) = 0;
    // Reloads the current page; does nothing when no page was loaded.
    virtual void reload() = 0;
    // The URL of the page shown, or nullopt before any load began.
    virtual std::optional<foundation::Url> url() const = 0;
    // Runs `body` as the body of an async function in the main frame's page world; `done`
    // gets its result or the error on the main loop.
    virtual void callAsyncJavaScript(const std::string& body, std::function<void(ScriptResult)> done) = 0;
    // Runs `source` in the main frame's page world, without waiting for a result.
    virtual void evaluateJavaScript(const std::string& source) = 0;
    // An operation that prints the page shown.
    virtual std::unique_ptr<PrintOperation> printOperation() = 0;
    // While `resting`, the view keeps no caches beyond what its page needs and has given freed
    // memory back to the system; the page, its scripts and its messages keep running.
    virtual void setResting(bool resting) = 0;
};

}  // namespace platform
