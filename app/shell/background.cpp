// Quit requests and the background service: an ordinary quit only hides the window; the
// process ends through the stop command, a system quit, or an update or relaunch.
#include "app/velmora.h"

namespace velmora {

void Velmora::handleQuitEvent(bool hasQuitReason) {
    // The system gives a reason when it quits applications for log out, restart or shut down.
    if (hasQuitReason) stopEverything = true;
    platform_.application.terminate();
}

platform::TerminateReply Velmora::applicationShouldTerminate() {
    if (stopEverything || restartPending || updateInstalling) return platform::TerminateReply::Now;
    if (window) window->orderOut();
    platform_.application.setActivationPolicy(platform::ActivationPolicy::Accessory);
    restWhileHidden();
    return platform::TerminateReply::Cancel;
}

void Velmora::stopNativeService() {
    stopEverything = true;
    if (noticeTimer) noticeTimer->invalidate();
    platform_.application.terminate();
}

bool Velmora::applicationShouldTerminateAfterLastWindowClosed() {
    platform_.application.setActivationPolicy(platform::ActivationPolicy::Accessory);
    restWhileHidden();
    return false;
}

}  // namespace velmora
