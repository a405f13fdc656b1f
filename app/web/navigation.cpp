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
}  // namespace

platform::NavigationPolicy Velmora::decidePolicyForNavigationAction(const platform::NavigationAction& action) {
    const bool subFrame = action.targetIsMainFrame.has_value() && !*action.targetIsMainFrame;
    if (!subFrame && action.url) {
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
    return response.canShowMimeType ? platform::ResponsePolicy::Allow : platform::ResponsePolicy::Download;
}

void Velmora::navigationActionDidBecomeDownload(platform::Download& download) { download.setDelegate(this); }

void Velmora::navigationResponseDidBecomeDownload(platform::Download& download) { download.setDelegate(this); }

void Velmora::requestNewWebView(const platform::NavigationAction& action) {
    // Pages that open a window, instance pages included, go to the default browser.
    if (action.url) platform_.workspace.openUrl(*action.url);
}

void Velmora::changeSpace() {
    // The remembered console stays as it is until another console finishes loading.
    web->load(signInURL());
}

void Velmora::reload() { web->reload(); }

void Velmora::safari() { platform_.workspace.openUrl(web->url().value_or(signInURL())); }

}  // namespace velmora
