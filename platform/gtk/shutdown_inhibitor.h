// logind's announcement of a shutdown or reboot, held up just long enough to quit cleanly.
#pragma once

#include <gio/gio.h>

#include <functional>

namespace gtk {

// Takes a delay inhibitor for "shutdown" from org.freedesktop.login1 and, when logind announces
// the shutdown (PrepareForShutdown(true)), runs `onShutdown` and lets the inhibitor go. A
// cancelled shutdown (PrepareForShutdown(false)) takes a new inhibitor for the next one.
class ShutdownInhibitor {
public:
    // Starts on `systemBus` (nullptr: no system bus, nothing happens). The callback runs on the
    // main loop.
    ShutdownInhibitor(GDBusConnection* systemBus, std::function<void()> onShutdown);
    // Stops listening and releases the inhibitor.
    ~ShutdownInhibitor();
    ShutdownInhibitor(const ShutdownInhibitor&) = delete;
    ShutdownInhibitor& operator=(const ShutdownInhibitor&) = delete;
    ShutdownInhibitor(ShutdownInhibitor&&) = delete;
    ShutdownInhibitor& operator=(ShutdownInhibitor&&) = delete;

    // Whether an inhibitor is held now.
    bool holdsInhibitor() const { return inhibitor_ >= 0; }

private:
    void inhibit();
    void release();
    static void onInhibited(GObject* source, GAsyncResult* result, gpointer data);
    static void onPrepareForShutdown(GDBusConnection* bus, const char* sender, const char* path, const char* interface,
                                     const char* signal, GVariant* parameters, gpointer data);

    GDBusConnection* bus_ = nullptr;
    GCancellable* cancellable_ = nullptr;
    std::function<void()> onShutdown_;
    guint subscription_ = 0;
    int inhibitor_ = -1;
    bool inhibiting_ = false;  // an Inhibit call is under way
};

}  // namespace gtk
