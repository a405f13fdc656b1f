// Navigation policy, new-window requests and the navigation menu. The policy does not keep
// the main frame on instance hosts: the host rules live in the page bridge, the console
// recording and the notification clicks. Here only retired hosts are moved.
#include "app/velmora.h"

namespace velmora {

namespace {
bool isExternalScheme(const foundation::Url& url) {
    const std::string scheme = url.scheme().value_or(std::string());
    return scheme == "mailto" || scheme == "tel";
}

// Whether the default browser may be given `url`. Every other scheme would reach whatever
// program registered it (file managers for smb: and file:, any x-scheme-handler), on the
// word of a page or of any of its frames.
bool isWebScheme(const foundation::Url& url) {
    const std::string scheme = url.scheme().value_or(std::string());
    return scheme == "https" || scheme == "http";
}
}  // namespace

platform::NavigationPolicy Velmora::decidePolicyForNavigationAction(const platform::NavigationAction& action) {
    // A frame the engine does not name is judged once its load starts in the main frame, if it
    // does (didStartProvisionalNavigation); sub-frames are never moved.
    const bool pageOrWindow = action.target == platform::NavigationTarget::MainFrame ||
                              action.target == platform::NavigationTarget::NewWindow;
    if (pageOrWindow && action.url) {
        // With no retired host listed this never redirects; it takes effect once one is.
        const auto judged = currentInstanceURL(*action.url);
        if (judged && *judged != *action.url) {
            web->load(*judged);
            return platform::NavigationPolicy::Cancel;
        }
    }
    if (action.shouldPerformDownload) return platform::NavigationPolicy::Download;
    if (!action.url) return platform::NavigationPolicy::Allow;
    if (isExternalScheme(*action.url)) {
        // Whether a program took the URL is not examined: the page stays where it was.
        platform_.workspace.openUrl(*action.url);
        return platform::NavigationPolicy::Cancel;
    }
    return platform::NavigationPolicy::Allow;
}

platform::ResponsePolicy Velmora::decidePolicyForNavigationResponse(const platform::NavigationResponse& response) {
    // A file the server sends for saving (an export of the reservations, say) is saved as a
    // browser would, even when the view could show it: shown, it would replace the console
    // with raw text and leave the window no way back.
    if (!response.canShowMimeType || response.isAttachment) return platform::ResponsePolicy::Download;
    return platform::ResponsePolicy::Allow;
}

void Velmora::navigationActionDidBecomeDownload(platform::Download& download) { download.setDelegate(this); }

void Velmora::navigationResponseDidBecomeDownload(platform::Download& download) { download.setDelegate(this); }

void Velmora::requestNewWebView(const platform::NavigationAction& action) {
    // Pages that open a window, instance pages included, go to the default browser; mailto and
    // tel never come here, the navigation decision hands them over first. Anything else is
    // refused without a word.
    if (action.url && isWebScheme(*action.url)) platform_.workspace.openUrl(*action.url);
}

void Velmora::changeSpace() {
    // The remembered console stays as it is until another console finishes loading.
    web->load(signInURL());
}

void Velmora::reload() { web->reload(); }

void Velmora::safari() {
    // A page of another kind (a data: or blob: document) has no place in a browser: the
    // sign-in page goes instead.
    const std::optional<foundation::Url> shown = web->url();
    platform_.workspace.openUrl(shown && isWebScheme(*shown) ? *shown : signInURL());
}

}  // namespace velmora
