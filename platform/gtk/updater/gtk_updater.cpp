#include "platform/gtk/updater/gtk_updater.h"

#include <memory>
#include <span>
#include <utility>
#include <variant>
#include <vector>

#include "platform/foundation/property_list.h"
#include "platform/foundation/text.h"
#include "platform/gtk/updater/package_install.h"
#include "platform/gtk/updater/update_dialogs.h"
#include "platform/gtk/updater/update_fetch.h"
#include "platform/gtk/updater/update_schedule.h"
#include "platform/gtk/updater/update_texts.h"

namespace gtk {

namespace {

// Seconds without progress after which a connection or a transfer is given up.
constexpr guint kNetworkTimeoutSeconds = 30;
// A feed is a few hundred bytes; anything much larger is not one.
constexpr gsize kLargestFeed = gsize{64} * 1024;

constexpr int kInstallButton = 1;

// What the worker thread needs: copies, so that the updater may go while it runs.
struct StageJob {
    std::shared_ptr<GBytes> archive;
    UpdateFeed feed;
    RunningCopy running;
};
using StageResult = std::variant<StagedUpdate, std::string>;

void stageInThread(GTask* task, gpointer, gpointer data, GCancellable*) {
    const auto* job = static_cast<StageJob*>(data);
    gsize size = 0;
    const auto* bytes = static_cast<const std::uint8_t*>(g_bytes_get_data(job->archive.get(), &size));
    auto* result = new StageResult(stageUpdate({bytes, size}, job->feed, job->running));
    g_task_return_pointer(task, result, [](gpointer staged) { delete static_cast<StageResult*>(staged); });
}

std::string fetchFailure(const FetchResult& fetched, const char* unreachable, const char* tooLarge) {
    switch (fetched.outcome) {
        case FetchResult::Outcome::HttpError:
            return update_texts::kHttpStatusPrefix + std::to_string(fetched.status) + ".";
        case FetchResult::Outcome::TooLarge:
            return tooLarge;
        case FetchResult::Outcome::NotHttps:
            return update_texts::kNotHttps;
        default:
            return unreachable;
    }
}

foundation::PropertyListDictionary readInfo(const std::string& bundlePath) {
    g_autofree char* contents = nullptr;
    gsize length = 0;
    const std::string path = bundlePath + "/Contents/Info.plist";
    if (bundlePath.empty() || !g_file_get_contents(path.c_str(), &contents, &length, nullptr)) return {};
    return foundation::readPropertyList({reinterpret_cast<const std::uint8_t*>(contents), length})
        .value_or(foundation::PropertyListDictionary{});
}

std::int64_t wallClockSeconds() { return g_get_real_time() / G_USEC_PER_SEC; }

}  // namespace

GtkUpdater::GtkUpdater(Context& context, platform::Application& application, platform::Processes& processes,
                       platform::Log& log, platform::UpdaterDelegate& delegate, UpdaterSettings settings,
                       RunningCopy running, std::string runningVersion)
    : context_(context),
      application_(application),
      processes_(processes),
      log_(log),
      delegate_(delegate),
      settings_(std::move(settings)),
      running_(std::move(running)),
      runningVersion_(std::move(runningVersion)),
      session_(soup_session_new_with_options("timeout", kNetworkTimeoutSeconds, "idle-timeout", kNetworkTimeoutSeconds,
                                             nullptr)),
      cancellable_(g_cancellable_new()) {
    // A trailing space makes libsoup append its own name and version.
    const std::string agent = "Velmora/" + runningVersion_ + " ";
    soup_session_set_user_agent(session_, agent.c_str());
    // The controller checks at launch; the days after are the updater's own schedule.
    if (settings_.automaticChecks && settings_.feedUrl && settings_.publicKey) {
        nextScheduledCheck_ = nextCheckDue(wallClockSeconds(), g_random_double());
        scheduleTick_ = g_timeout_add_seconds(kScheduleTickSeconds, onScheduleTick, this);
    }
}

GtkUpdater::~GtkUpdater() {
    if (scheduleTick_) g_source_remove(scheduleTick_);
    g_cancellable_cancel(cancellable_);
    if (download_) {
        g_cancellable_cancel(download_);
        g_object_unref(download_);
    }
    if (GtkWindow* dialog = forgetProgressDialog()) closeUpdateDialogSilently(dialog);
    if (offerDialog_) {
        g_object_remove_weak_pointer(G_OBJECT(offerDialog_), reinterpret_cast<gpointer*>(&offerDialog_));
        closeUpdateDialogSilently(offerDialog_);
    }
    soup_session_abort(session_);
    g_object_unref(session_);
    g_object_unref(cancellable_);
}

bool GtkUpdater::automaticallyChecksForUpdates() const { return settings_.automaticChecks; }

void GtkUpdater::checkForUpdatesInBackground() {
    // A build made without a feed or a key has nothing to check by itself: that is how it was
    // configured, not a failure worth a line in the log.
    if (!settings_.feedUrl || !settings_.publicKey) return;
    startCheck(false);
}

void GtkUpdater::checkForUpdates() { startCheck(true); }

gboolean GtkUpdater::onScheduleTick(gpointer self) {
    auto* updater = static_cast<GtkUpdater*>(self);
    const std::int64_t now = wallClockSeconds();
    if (checkIsDue(now, updater->nextScheduledCheck_)) {
        updater->nextScheduledCheck_ = nextCheckDue(now, g_random_double());
        // A check, an offer or a download under way already stands for this one.
        if (updater->stage_ == Stage::Idle) updater->checkForUpdatesInBackground();
    }
    return G_SOURCE_CONTINUE;
}

void GtkUpdater::startCheck(bool userAsked) {
    switch (stage_) {
        case Stage::Checking:
            // The check under way now answers the user too.
            userAsked_ = userAsked_ || userAsked;
            return;
        case Stage::Offering:
            if (offerDialog_) gtk_window_present(offerDialog_);
            return;
        case Stage::Installing:
            // The installation ends in a relaunch or in a message of its own.
            if (progressDialog_) gtk_window_present(progressDialog_);
            return;
        case Stage::Idle:
            break;
    }
    userAsked_ = userAsked;
    stage_ = Stage::Checking;
    if (installedByPackage_) return fetchFeed();
    // Asked once: how the copy was installed does not change while it runs.
    askWhetherInstalledByPackage(running_.bundlePath, cancellable_, [this](bool byPackage) {
        installedByPackage_ = byPackage;
        fetchFeed();
    });
}

void GtkUpdater::fetchFeed() {
    if (*installedByPackage_) {
        // The package manager owns the files; a check in the background has nothing to say.
        stage_ = Stage::Idle;
        if (userAsked_) tell(update_texts::kUpdatedBySystem, update_texts::kUpdatedBySystemDetail);
        return;
    }
    // An update that could not be put in place is not offered: the staging folder and the
    // exchange both need to write next to the bundle.
    if (!canReplaceBundle(running_.bundlePath)) {
        stage_ = Stage::Idle;
        if (userAsked_)
            tell(update_texts::kCannotUpdateItself, update_texts::kFolderNotWritablePrefix +
                                                        bundleFolderOf(running_.bundlePath) +
                                                        update_texts::kFolderNotWritableSuffix);
        return;
    }
    if (!settings_.feedUrl) return checkFailed(update_texts::kNoFeed);
    // Without a key nothing found could ever be installed, so nothing is offered.
    if (!settings_.publicKey) return checkFailed(update_texts::kNoKey);
    // The callback is never called once the cancellable is cancelled, which the destructor
    // does first, so `this` is alive whenever it runs.
    fetchBounded(session_, *settings_.feedUrl, kLargestFeed, cancellable_, {}, [this](const FetchResult& fetched) {
        if (fetched.outcome != FetchResult::Outcome::Received)
            return checkFailed(fetchFailure(fetched, update_texts::kUnreachable, update_texts::kFeedTooLarge));
        gsize size = 0;
        const auto* data = static_cast<const char*>(g_bytes_get_data(fetched.body.get(), &size));
        judgeFeed(std::string(data ? data : "", size));
    });
}

void GtkUpdater::judgeFeed(const std::string& document) {
    auto parsed = readSignedFeed(document, *settings_.publicKey);
    if (auto* reason = std::get_if<std::string>(&parsed)) return checkFailed(*reason);
    auto& feed = std::get<UpdateFeed>(parsed);
    if (foundation::numericCompare(feed.build, running_.build) <= 0) {
        stage_ = Stage::Idle;
        if (userAsked_) tell(update_texts::kUpToDate, update_texts::kUpToDatePrefix + runningVersion_ + ".");
        return;
    }
    offer(std::move(feed));
}

void GtkUpdater::offer(UpdateFeed feed) {
    stage_ = Stage::Offering;
    std::string detail =
        update_texts::kOfferVersionPrefix + feed.version + update_texts::kOfferRunningPrefix + runningVersion_ + ".";
    if (!feed.notes.empty()) detail += "\n\n" + feed.notes;
    offered_ = std::move(feed);
    // The install button comes last, where the primary action of a dialog sits, and is the
    // default: Return installs.
    offerDialog_ = openUpdateDialog(context_, {update_texts::kOfferTitle, update_texts::kOfferMessage, detail},
                                    {update_texts::kLater, update_texts::kInstallAndRelaunch}, kInstallButton,
                                    [this](int button) { offerAnswered(button == kInstallButton); });
    // GTK may destroy the dialog by itself, for instance while the application shuts down; the
    // weak pointer then forgets it rather than leave the destructor a dangling one to close.
    g_object_add_weak_pointer(G_OBJECT(offerDialog_), reinterpret_cast<gpointer*>(&offerDialog_));
}

void GtkUpdater::offerAnswered(bool installNow) {
    if (offerDialog_) g_object_remove_weak_pointer(G_OBJECT(offerDialog_), reinterpret_cast<gpointer*>(&offerDialog_));
    offerDialog_ = nullptr;
    if (installNow) return install();
    stage_ = Stage::Idle;
    offered_.reset();
}

void GtkUpdater::install() {
    stage_ = Stage::Installing;
    download_ = g_cancellable_new();
    // "Annuler", or closing the dialog, gives the download up; nothing has been changed yet.
    progressDialog_ = openProgressDialog(
        context_,
        {update_texts::kOfferTitle, update_texts::kDownloading, update_texts::kOfferVersionPrefix + offered_->version},
        update_texts::kCancel, [this](int) { downloadCancelled(); });
    // As for the offer: GTK may destroy the dialog by itself.
    g_object_add_weak_pointer(G_OBJECT(progressDialog_), reinterpret_cast<gpointer*>(&progressDialog_));
    const auto announced = static_cast<double>(offered_->size);
    // Neither callback runs once `download_` is cancelled, which the destructor does, so `this`
    // is alive whenever they run.
    fetchBounded(
        session_, offered_->archiveUrl, offered_->size, download_,
        [this, announced](gsize received) {
            if (progressDialog_) showDialogProgress(progressDialog_, static_cast<double>(received) / announced);
        },
        [this](const FetchResult& fetched) {
            if (GtkWindow* dialog = forgetProgressDialog()) closeUpdateDialogSilently(dialog);
            g_clear_object(&download_);
            // More bytes than announced is a size mismatch, whatever the rest would have been.
            if (fetched.outcome != FetchResult::Outcome::Received)
                return installFailed(
                    fetchFailure(fetched, update_texts::kArchiveUnreachable, update_texts::kSizeMismatch));
            stage(fetched.body.get());
        });
}

void GtkUpdater::downloadCancelled() {
    // The dialog has closed itself already.
    forgetProgressDialog();
    g_cancellable_cancel(download_);
    g_clear_object(&download_);
    stage_ = Stage::Idle;
    offered_.reset();
}

GtkWindow* GtkUpdater::forgetProgressDialog() {
    GtkWindow* dialog = progressDialog_;
    if (dialog) g_object_remove_weak_pointer(G_OBJECT(dialog), reinterpret_cast<gpointer*>(&progressDialog_));
    progressDialog_ = nullptr;
    return dialog;
}

void GtkUpdater::stage(GBytes* archive) {
    // Hashing, verifying and unpacking a few megabytes would stall the window; a worker thread
    // does it with copies of what it needs and touches nothing but files of its own.
    auto* job = new StageJob{std::shared_ptr<GBytes>(g_bytes_ref(archive), g_bytes_unref), *offered_, running_};
    GTask* task = g_task_new(nullptr, cancellable_, onStaged, this);
    g_task_set_task_data(task, job, [](gpointer data) { delete static_cast<StageJob*>(data); });
    g_task_run_in_thread(task, stageInThread);
    g_object_unref(task);
}

void GtkUpdater::onStaged(GObject*, GAsyncResult* result, gpointer self) {
    g_autoptr(GError) error = nullptr;
    // A cancelled task reports the cancellation even when the thread had finished, so an
    // updater that is gone is never touched; its staging folder is removed at the next start.
    auto* staged = static_cast<StageResult*>(g_task_propagate_pointer(G_TASK(result), &error));
    if (!staged) return;
    std::unique_ptr<StageResult> owned(staged);
    auto* updater = static_cast<GtkUpdater*>(self);
    if (auto* reason = std::get_if<std::string>(staged)) return updater->installFailed(*reason);
    updater->swapAndRelaunch(std::get<StagedUpdate>(*staged));
}

void GtkUpdater::swapAndRelaunch(const StagedUpdate& staged) {
    delegate_.updaterWillInstallUpdate();
    const auto failure = swapInStagedUpdate(
        staged, running_, [this] { delegate_.updaterWillRelaunchApplication(); },
        [this](const std::string& program, const std::vector<std::string>& arguments) {
            return processes_.launch(program, arguments);
        });
    if (failure) {
        // The running build is still in its place: the application goes back to what it was.
        delegate_.updaterDidAbortInstall();
        return installFailed(*failure);
    }
    // This process still runs from the replaced build, which Linux keeps alive while it is
    // open or mapped. That build waits in the staging folder until the new one has launched.
    application_.terminate();
}

void GtkUpdater::checkFailed(const std::string& reason) {
    stage_ = Stage::Idle;
    // A check the user did not ask for shows nothing unless it finds something; the log keeps
    // why it failed.
    if (userAsked_) return tell(update_texts::kCheckFailedPrefix + reason, "");
    log_.write(update_texts::kLogCheckFailed + reason);
}

void GtkUpdater::installFailed(const std::string& reason) {
    stage_ = Stage::Idle;
    offered_.reset();
    tell(update_texts::kInstallFailedPrefix + reason, "");
}

void GtkUpdater::tell(const std::string& message, const std::string& detail) {
    openUpdateDialog(context_, {update_texts::kOutcomeTitle, message, detail}, {update_texts::kOk}, 0, {});
}

GtkUpdaterFactory::GtkUpdaterFactory(Context& context, platform::Application& application,
                                     const platform::Bundle& bundle, platform::Processes& processes, platform::Log& log)
    : context_(context), application_(application), bundle_(bundle), processes_(processes), log_(log) {}

std::unique_ptr<platform::Updater> GtkUpdaterFactory::makeUpdater(platform::UpdaterDelegate& delegate) {
    const std::string bundlePath = bundle_.bundlePath();
    UpdaterSettings settings = updaterSettingsFrom(readInfo(bundlePath));
    RunningCopy running{bundlePath, bundle_.infoString("CFBundleVersion").value_or(""), settings.bundleIdentifier,
                        processes_.processIdentifier()};
    // Once this launch is through, the build that an earlier installation replaced is no
    // longer needed (the relaunch helper waits for it to go before it lets the new build be),
    // nor what a failed installation left.
    if (!bundlePath.empty())
        g_idle_add_full(
            G_PRIORITY_LOW,
            [](gpointer copy) -> gboolean {
                const auto* leftovers = static_cast<RunningCopy*>(copy);
                removeLeftovers(leftovers->bundlePath, leftovers->processId);
                return G_SOURCE_REMOVE;
            },
            new RunningCopy(running), [](gpointer copy) { delete static_cast<RunningCopy*>(copy); });
    return std::make_unique<GtkUpdater>(context_, application_, processes_, log_, delegate, std::move(settings),
                                        std::move(running),
                                        bundle_.infoString("CFBundleShortVersionString").value_or(""));
}

}  // namespace gtk
