// Resting in the background: most of the day no window is shown, and the process then gives
// back what only drawing needs, while the page keeps running for the poll and the bridge. The
// rest begins a minute after the window went, so that closing and reopening it at once costs
// nothing.
#include "app/velmora.h"

namespace velmora {

namespace {
constexpr double kRestAfterHiddenSeconds = 60.0;
}  // namespace

void Velmora::restWhileHidden() {
    if (restTimer) restTimer->invalidate();
    restTimer = platform_.timers.scheduleOneShot(kRestAfterHiddenSeconds, weakly([this] { rest(); }));
}

void Velmora::rest() {
    restTimer.reset();
    if (resting || (window && window->isVisible())) return;
    resting = true;
    if (window) window->releaseDrawingResources();
    if (web) web->setResting(true);
}

void Velmora::endRest() {
    if (restTimer) restTimer->invalidate();
    restTimer.reset();
    if (!resting) return;
    resting = false;
    if (web) web->setResting(false);
}

}  // namespace velmora
