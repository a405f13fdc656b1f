// The updater on Linux: a signed JSON feed fetched over HTTPS, a dialog that offers a newer
// build, and an installation that swaps the unpacked bundle in with renames and hands over to
// the new build's relaunch helper.
#pragma once

#include <libsoup/soup.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/application.h"
#include "platform/bundle.h"
#include "platform/gtk/context.h"
#include "platform/gtk/updater/update_feed.h"
#include "platform/gtk/updater/update_install.h"
#include "platform/gtk/updater/update_settings.h"
#include "platform/system.h"
#include "platform/updater.h"

namespace gtk {

class GtkUpdater final : public platform::Updater {
public:
    // Everything passed in outlives the updater; `settings` and `running` describe the bundle.
    GtkUpdater(Context& context, platform::Application& application, platform::Processes& processes, platform::Log& log,
               platform::UpdaterDelegate& delegate, UpdaterSettings settings, RunningCopy running,
               std::string runningVersion);
    ~GtkUpdater() override;
    GtkUpdater(const GtkUpdater&) = delete;
    GtkUpdater& operator=(const GtkUpdater&) = delete;

    // Updater overrides:
    bool automaticallyChecksForUpdates() const override;
    void checkForUpdatesInBackground() override;
    void checkForUpdates() override;

private:
    enum class Stage { Idle, Checking, Offering, Installing };

    static gboolean onScheduleTick(gpointer self);
    void startCheck(bool userAsked);
    void fetchFeed();
    static void onFeedArrived(GObject* source, GAsyncResult* result, gpointer self);
    void judgeFeed(const std::string& document);
    void offer(UpdateFeed feed);
    void offerAnswered(bool installNow);
    void install();
    void downloadCancelled();
    // Stops watching the download's dialog and returns it, or null when there is none.
    GtkWindow* forgetProgressDialog();
    static void onArchiveArrived(GObject* source, GAsyncResult* result, gpointer self);
    void stage(GBytes* archive);
    static void onStaged(GObject* source, GAsyncResult* result, gpointer self);
    void swapAndRelaunch(const StagedUpdate& staged);
    void checkFailed(const std::string& reason);
    void installFailed(const std::string& reason);
    void tell(const std::string& message, const std::string& detail);

    Context& context_;
    platform::Application& application_;
    platform::Processes& processes_;
    platform::Log& log_;
    platform::UpdaterDelegate& delegate_;
    const UpdaterSettings settings_;
    const RunningCopy running_;
    const std::string runningVersion_;

    SoupSession* session_;
    // Cancelled when the updater goes, so that no late answer reaches a destroyed object.
    GCancellable* cancellable_;
    Stage stage_ = Stage::Idle;
    bool userAsked_ = false;
    // Whether the copy belongs to the Debian package; unknown until dpkg has answered.
    std::optional<bool> installedByPackage_;
    std::optional<UpdateFeed> offered_;
    GtkWindow* offerDialog_ = nullptr;
    // The download of an accepted offer: its own cancellable, which "Annuler" cancels, and the
    // dialog that shows its progress.
    GCancellable* download_ = nullptr;
    GtkWindow* progressDialog_ = nullptr;
    // The hourly look at the schedule of background checks, and when the next one is due.
    guint scheduleTick_ = 0;
    std::int64_t nextScheduledCheck_ = 0;
};

class GtkUpdaterFactory final : public platform::UpdaterFactory {
public:
    // Reads the update keys from the bundle's Info.plist on disk; the running build and version
    // come from `bundle`, as the controller sees them. Termination goes through `application`;
    // failed checks in the background are written to `log`.
    GtkUpdaterFactory(Context& context, platform::Application& application, const platform::Bundle& bundle,
                      platform::Processes& processes, platform::Log& log);

    // UpdaterFactory overrides:
    std::unique_ptr<platform::Updater> makeUpdater(platform::UpdaterDelegate& delegate) override;

private:
    Context& context_;
    platform::Application& application_;
    const platform::Bundle& bundle_;
    platform::Processes& processes_;
    platform::Log& log_;
};

}  // namespace gtk
