// The two ends of a page load: a failure before content arrived schedules a retry of the
// same URL; a finished load ends the retry cycle, remembers the console and polls at once.
#include "app/texts.h"
#include "app/velmora.h"

namespace velmora {

namespace {
constexpr double kRetryDelay = 15.0;
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
    if (noticeStatus) noticeStatus->setTitle(texts::kStatusRetrying);
    platform_.log.write(texts::kLogConnectionUnavailable + error.description);
}

void Velmora::didFinishNavigation() {
    if (connectionRetry) connectionRetry->invalidate();
    connectionRetry.reset();
    pendingConnectionURL.reset();
    const auto url = web ? web->url() : std::nullopt;
    if (!url) return;
    if (url->path() == "/admin" && allowedInstanceHosts.contains(url->hostOrEmpty())) {
        recordConsoleHost(*url);
        pollNativeNotifications();
    }
}

void Velmora::webContentProcessDidTerminate() {
    // Left alone, the view keeps a dead page: every later poll would fail without a word and
    // notifications would stop until the user happened to notice. Load the page again, the
    // one still being connected to if there is one.
    const std::optional<foundation::Url> target = pendingConnectionURL ? pendingConnectionURL : web->url();
    if (target) web->load(*target);
}

}  // namespace velmora
