// The ends of a page load: a failure schedules a retry of the same URL; a finished load ends
// the retry cycle, remembers the console and polls at once. A page whose web process ended is
// loaded again.
#include <algorithm>

#include "app/texts.h"
#include "app/velmora.h"

namespace velmora {

namespace {
constexpr double kRetryDelay = 15.0;
// The first reload after the web process ended; each further end in a row doubles it, up to
// the retry delay.
constexpr double kFirstCrashReloadDelay = 1.0;
// How long a page must have lived after it finished loading for its end to count as the first
// in a row again. A page that brings its process down right after loading (its own scripts, or
// the poll that follows the load) must not be reloaded every second for ever.
constexpr double kSettledPageSeconds = 60.0;
}  // namespace

void Velmora::didFailProvisionalNavigation(const platform::NavigationError& error) {
    // A load replaced by a newer one is not a connection problem.
    if (error.code == platform::NavigationError::kCancelled) return;
    // The first target stays the retry target, whatever was tried since.
    if (!pendingConnectionURL) pendingConnectionURL = web ? web->url() : std::nullopt;
    if (connectionRetry) connectionRetry->invalidate();
    connectionRetry = platform_.timers.scheduleOneShot(kRetryDelay, weakly([this] {
                                                           if (pendingConnectionURL) web->load(*pendingConnectionURL);
                                                       }));
    showNoticeStatus(texts::kStatusRetrying);
    platform_.log.write(texts::kLogConnectionUnavailable + error.description);
}

void Velmora::didFailNavigation(const platform::NavigationError& error) {
    // The view shows our error page instead of half a page: for the user and for the poll it
    // is the same as a page that could not be reached at all, and it comes back the same way.
    didFailProvisionalNavigation(error);
}

void Velmora::didStartProvisionalNavigation() {
    // A load under way makes a waiting reload of a dead page needless, and it must not replace
    // the page the user or the page chose meanwhile.
    if (crashReload) crashReload->invalidate();
    // Where the engine cannot say which frame a navigation is for, a retired host is moved only
    // now, once the main frame is known to load it; its frames may still show such a host. The
    // request to the retired host has been sent by then: the engine gives no earlier moment at
    // which the main frame is known.
    const std::optional<foundation::Url> url = web->url();
    if (!url) return;
    if (const auto judged = currentInstanceURL(*url); judged && *judged != *url) web->load(*judged);
}

void Velmora::didFinishNavigation() {
    if (connectionRetry) connectionRetry->invalidate();
    connectionRetry.reset();
    pendingConnectionURL.reset();
    // A page that loads is alive again; whether the next end of its process starts the wait
    // over depends on how long it lives.
    if (crashReload) crashReload->invalidate();
    crashReload.reset();
    lastFinishedLoad = platform_.clock.now();
    const auto url = web ? web->url() : std::nullopt;
    if (!url) return;
    if (url->path() == "/admin" && isInstancePage(*url)) {
        recordConsoleHost(*url);
        pollNativeNotifications();
    }
}

void Velmora::webContentProcessDidTerminate() {
    // Left alone, the view keeps a dead page: every later poll would fail without a word and
    // notifications would stop until the user happened to notice. Load the page again, the
    // one still being connected to if there is one. A page that brings its process down again
    // at once would reload in a tight loop, each time starting a web process: wait, longer
    // after each end in a row. The page's URL is taken now: the view forgets it meanwhile.
    if (lastFinishedLoad && platform_.clock.now() - *lastFinishedLoad >= kSettledPageSeconds)
        crashReloadDelay = kFirstCrashReloadDelay;
    if (crashReload) crashReload->invalidate();
    crashReload = platform_.timers.scheduleOneShot(crashReloadDelay, weakly([this, shown = web->url()] {
                                                       const std::optional<foundation::Url> target =
                                                           pendingConnectionURL ? pendingConnectionURL : shown;
                                                       if (target) web->load(*target);
                                                   }));
    crashReloadDelay = std::min(crashReloadDelay * 2, kRetryDelay);
}

}  // namespace velmora
