#include "platform/gtk/glib_timers.h"

#include <glib.h>

#include <cmath>
#include <utility>

namespace gtk {

namespace {

// One scheduled timer. The timeout source holds a reference to it as its data, so the timer
// lives for as long as it is scheduled, whoever else holds it.
class SourceTimer : public platform::Timer {
public:
    SourceTimer(bool repeats, std::function<void()> fire) : repeats(repeats), fire(std::move(fire)) {}

    // Adds the timeout source that fires `timer` every `milliseconds`.
    static void schedule(const std::shared_ptr<SourceTimer>& timer, guint milliseconds) {
        auto* sourceReference = new std::shared_ptr<SourceTimer>(timer);
        timer->sourceId = g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds, &SourceTimer::dispatch, sourceReference,
                                             &SourceTimer::release);
    }

    // Stops the timer for good; it never fires again. Invalidating twice is harmless.
    void invalidate() override {
        valid = false;
        if (sourceId != 0) {
            g_source_remove(std::exchange(sourceId, 0));
        }
        // The callback may hold what its owner wants freed; it goes now, or once it has returned
        // when it is the one invalidating.
        if (!firing) {
            fire = nullptr;
        }
    }

    // Whether the timer may still fire (not invalidated, and a one-shot not yet fired).
    bool isValid() const override { return valid; }

private:
    static gboolean dispatch(gpointer data) {
        // GLib keeps the source's data until this call has returned, even when the callback
        // removes the source, so the timer outlives its own callback.
        return (*static_cast<std::shared_ptr<SourceTimer>*>(data))->fireOnce();
    }

    static void release(gpointer data) { delete static_cast<std::shared_ptr<SourceTimer>*>(data); }

    gboolean fireOnce() {
        if (!repeats) {
            // Returning G_SOURCE_REMOVE below ends the source; its id must not be removed again.
            sourceId = 0;
            valid = false;
        }
        firing = true;
        if (fire) {
            fire();
        }
        firing = false;
        if (!valid) {
            fire = nullptr;
            return G_SOURCE_REMOVE;
        }
        return G_SOURCE_CONTINUE;
    }

    const bool repeats;
    std::function<void()> fire;
    guint sourceId = 0;
    bool valid = true;
    bool firing = false;
};

guint milliseconds(double seconds) {
    // Not-a-number and negative intervals fire at the next iteration; longer than GLib can wait
    // is the longest it can.
    if (!(seconds > 0)) {
        return 0;
    }
    const double rounded = std::round(seconds * 1000);
    return rounded >= G_MAXUINT ? G_MAXUINT : static_cast<guint>(rounded);
}

std::shared_ptr<platform::Timer> scheduleTimer(double seconds, bool repeats, std::function<void()> fire) {
    auto timer = std::make_shared<SourceTimer>(repeats, std::move(fire));
    SourceTimer::schedule(timer, milliseconds(seconds));
    return timer;
}

}  // namespace

std::shared_ptr<platform::Timer> GLibTimers::scheduleRepeating(double seconds, std::function<void()> fire) {
    return scheduleTimer(seconds, true, std::move(fire));
}

std::shared_ptr<platform::Timer> GLibTimers::scheduleOneShot(double seconds, std::function<void()> fire) {
    return scheduleTimer(seconds, false, std::move(fire));
}

double SystemClock::now() const { return static_cast<double>(g_get_real_time()) / 1e6; }

}  // namespace gtk
