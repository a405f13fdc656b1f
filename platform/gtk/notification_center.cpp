#include "platform/gtk/notification_center.h"

#include <algorithm>
#include <array>
#include <utility>

#include "platform/gtk/chime.h"

namespace gtk {

namespace {

constexpr const char* kName = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr const char* kAppName = "Velmóra";
constexpr const char* kDefaultAction = "default";
constexpr const char* kDefaultActionLabel = "Ouvrir";
constexpr const char* kPayableMark = ":payable:";
constexpr const char* kNoBus = "Aucune session D-Bus : les notifications ne peuvent pas être affichées";
constexpr const char* kUnexpectedAnswer = "Réponse inattendue du serveur de notifications";

using Handle = std::weak_ptr<DBusNotificationCenter*>;

// The centre behind a callback's data, or nullptr once it is gone.
DBusNotificationCenter* centreOf(gpointer data) {
    const auto centre = static_cast<Handle*>(data)->lock();
    return centre ? *centre : nullptr;
}

void releaseHandle(gpointer data) { delete static_cast<Handle*>(data); }

struct Call {
    Handle centre;
    std::function<void(GDBusMessage*, const GError*)> onReply;
};

void onCallDone(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Call> call(static_cast<Call*>(data));
    g_autoptr(GError) error = nullptr;
    g_autoptr(GDBusMessage) reply =
        g_dbus_connection_send_message_with_reply_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply) g_dbus_message_to_gerror(reply, &error);
    // A cancelled call belongs to a centre that is gone.
    if (call->centre.expired()) return;
    call->onReply(error ? nullptr : reply, error);
}

// Text the bus can carry: D-Bus strings must be valid UTF-8.
std::string validText(const std::string& text) {
    if (g_utf8_validate_len(text.data(), text.size(), nullptr)) return text;
    g_autofree char* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    return valid;
}

platform::NotificationContent validContent(const platform::NotificationContent& content) {
    platform::NotificationContent valid{validText(content.title), validText(content.body), content.sound, {}};
    for (const auto& [key, value] : content.userInfo) valid.userInfo[validText(key)] = validText(value);
    return valid;
}

bool isPayable(const std::string& identifier) { return identifier.find(kPayableMark) != std::string::npos; }

}  // namespace

DBusNotificationCenter::DBusNotificationCenter(Context& context, GDBusConnection* connection, Settings settings)
    : context_(context),
      connection_(connection ? G_DBUS_CONNECTION(g_object_ref(connection)) : nullptr),
      settings_(std::move(settings)),
      ledger_(settings_.ledgerPath),
      cancellable_(g_cancellable_new()),
      self_(std::make_shared<DBusNotificationCenter*>(this)) {
    if (!settings_.playSound) settings_.playSound = playSoundFile;
    if (!connection_) {
        // Without a bus nothing can be shown; the ledger is kept for a run that has one.
        ownerKnown_ = true;
        return;
    }
    // The server's ids are only valid on the bus that carried them.
    ledger_.useBus(g_dbus_connection_get_guid(connection_));
    // Every sender is let through here and checked against the ledger in the handlers: a
    // notification's signals count only from the server that showed it.
    subscription_ = g_dbus_connection_signal_subscribe(connection_, nullptr, kInterface, nullptr, kPath, nullptr,
                                                       G_DBUS_SIGNAL_FLAGS_NONE, &DBusNotificationCenter::onSignal,
                                                       new Handle(self_), releaseHandle);
    // The name is only watched, never started: posting starts an activatable server by itself.
    nameWatch_ = g_bus_watch_name_on_connection(
        connection_, kName, G_BUS_NAME_WATCHER_FLAGS_NONE, &DBusNotificationCenter::onNameAppeared,
        &DBusNotificationCenter::onNameVanished, new Handle(self_), releaseHandle);
}

DBusNotificationCenter::~DBusNotificationCenter() {
    self_.reset();
    g_cancellable_cancel(cancellable_);
    for (const auto& delay : delays_) delay->invalidate();
    if (nameWatch_ != 0) g_bus_unwatch_name(nameWatch_);
    if (subscription_ != 0) g_dbus_connection_signal_unsubscribe(connection_, subscription_);
    g_object_unref(cancellable_);
    if (connection_) g_object_unref(connection_);
}

DBusNotificationCenter::Settings DBusNotificationCenter::settingsFor(const AppBundle& bundle) {
    // Without a bundle there is no chime to play, and notifications stay silent.
    std::string soundFile = bundle.bundlePath().empty() ? std::string() : bundle.resourcePath("carillon-doux.wav");
    return {NotificationLedger::defaultPath(), std::move(soundFile), {}};
}

void DBusNotificationCenter::setDelegate(platform::NotificationCenterDelegate* delegate) { delegate_ = delegate; }

void DBusNotificationCenter::requestAuthorization(std::function<void(bool)> done) {
    if (done) done(true);
}

void DBusNotificationCenter::add(platform::NotificationRequest request,
                                 std::function<void(std::optional<std::string>)> done) {
    request.content = validContent(request.content);
    if (!request.delaySeconds || *request.delaySeconds <= 0) {
        post(request, done);
        return;
    }
    std::erase_if(delays_, [](const auto& delay) { return !delay->isValid(); });
    // The timers are invalidated with this object, so the callback may keep `this`.
    delays_.push_back(timers_.scheduleOneShot(*request.delaySeconds, [this, request, done] { post(request, done); }));
}

void DBusNotificationCenter::delivered(std::function<void(std::vector<platform::NotificationRequest>)> done) {
    enqueue([this, done] {
        std::vector<platform::NotificationRequest> requests;
        for (const auto& [identifier, entry] : ledger_.entries())
            requests.push_back({identifier, entry.content, std::nullopt});
        // The answer may ask for more; that waits in the queue until this step has finished.
        if (done) done(std::move(requests));
        finished();
    });
}

void DBusNotificationCenter::removeDelivered(const std::vector<std::string>& identifiers) {
    enqueue([this, identifiers] {
        std::vector<std::string> known;
        for (const auto& identifier : identifiers) {
            const LedgerEntry* entry = ledger_.find(identifier);
            if (!entry) continue;
            known.push_back(identifier);
            activationTokens_.erase(entry->serverId);
            // The server answers with NotificationClosed, or with an error when the notification
            // is already gone; either way it is no longer ours to track.
            call("CloseNotification", g_variant_new("(u)", entry->serverId), [](GDBusMessage*, const GError*) {});
        }
        ledger_.remove(known);
        finished();
    });
}

void DBusNotificationCenter::onNameAppeared(GDBusConnection* /*connection*/, const char* /*name*/, const char* owner,
                                            gpointer data) {
    if (DBusNotificationCenter* centre = centreOf(data)) centre->ownerChanged(owner);
}

void DBusNotificationCenter::onNameVanished(GDBusConnection* /*connection*/, const char* /*name*/, gpointer data) {
    if (DBusNotificationCenter* centre = centreOf(data)) centre->ownerChanged(std::string());
}

void DBusNotificationCenter::ownerChanged(const std::string& owner) {
    const bool firstAnswer = !ownerKnown_;
    ownerKnown_ = true;
    if (owner != owner_) activationTokens_.clear();
    owner_ = owner;
    // A server that has gone took its notifications with it, and a new one has other ids.
    ledger_.keepOnlyServer(owner);
    if (capabilities_ && capabilitiesServer_ != owner) capabilities_.reset();
    // What an earlier run showed is taken over before anything else: until then the ledger may
    // list notifications that are gone.
    if (firstAnswer && !owner.empty()) queue_.push_front([this] { takeOver(); });
    pump();
}

// Servers send a notification's signals to the connection that posted it (GNOME Shell, dunst), or
// to everyone (xfce4-notifyd): a click on a notification of an earlier run would reach nobody,
// and its closing would go unnoticed. Every such notification is posted again, silently, as a
// replacement of itself, which makes this connection its poster. Withdrawing them instead would
// lose what the user has not dealt with, since the selection announces an entry only once. A
// server that no longer shows one answers with another id: that new one is closed at once and
// the entry forgotten, so that an open payment request is announced again by the next poll. A
// server that refuses the replacement (GNOME Shell does while the old connection is still on the
// bus) has it forgotten too: this connection can do nothing with it.
void DBusNotificationCenter::takeOver() {
    const char* self = connection_ ? g_dbus_connection_get_unique_name(connection_) : nullptr;
    std::vector<std::string> earlier;
    for (const auto& [identifier, entry] : ledger_.entries())
        if (!self || entry.poster != self) earlier.push_back(identifier);
    if (earlier.empty()) {
        finished();
        return;
    }
    withCapabilities([this, earlier = std::move(earlier)](const std::optional<std::string>& error) {
        if (error) {
            // Without a server that answers, nothing of it can be shown or heard.
            ledger_.remove(earlier);
            finished();
            return;
        }
        takeOverNext(earlier, 0);
    });
}

void DBusNotificationCenter::takeOverNext(const std::vector<std::string>& identifiers, std::size_t next) {
    if (next == identifiers.size()) {
        finished();
        return;
    }
    const std::string& identifier = identifiers[next];
    const LedgerEntry* entry = ledger_.find(identifier);
    if (!entry) {
        takeOverNext(identifiers, next + 1);
        return;
    }
    platform::NotificationRequest again{identifier, entry->content, std::nullopt};
    again.content.sound = false;
    const std::uint32_t shownAs = entry->serverId;
    call("Notify", notifyArguments(again),
         [this, identifiers, next, again, shownAs](GDBusMessage* reply, const GError* error) {
             GVariant* body = reply ? g_dbus_message_get_body(reply) : nullptr;
             guint32 serverId = 0;
             if (!error && body && g_variant_is_of_type(body, G_VARIANT_TYPE("(u)")))
                 g_variant_get(body, "(u)", &serverId);
             if (serverId == shownAs) {
                 LedgerEntry taken = *ledger_.find(again.identifier);
                 taken.poster = g_dbus_connection_get_unique_name(connection_);
                 ledger_.put(again.identifier, std::move(taken));
             } else {
                 if (serverId != 0)
                     call("CloseNotification", g_variant_new("(u)", serverId), [](GDBusMessage*, const GError*) {});
                 ledger_.remove({again.identifier});
             }
             takeOverNext(identifiers, next + 1);
         });
}

void DBusNotificationCenter::enqueue(Step step) {
    queue_.push_back(std::move(step));
    pump();
}

void DBusNotificationCenter::pump() {
    // A step that finishes at once would otherwise start the next one from inside itself.
    if (pumping_) return;
    pumping_ = true;
    while (!busy_ && ownerKnown_ && !queue_.empty()) {
        Step step = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        step();
    }
    pumping_ = false;
}

void DBusNotificationCenter::finished() {
    busy_ = false;
    pump();
}

void DBusNotificationCenter::post(const platform::NotificationRequest& request,
                                  const std::function<void(std::optional<std::string>)>& done) {
    enqueue([this, request, done] {
        withCapabilities([this, request, done](std::optional<std::string> error) {
            if (!error) {
                notify(request, done);
                return;
            }
            if (done) done(std::move(error));
            finished();
        });
    });
}

void DBusNotificationCenter::withCapabilities(const std::function<void(std::optional<std::string> error)>& then) {
    if (!connection_) {
        then(std::string(kNoBus));
        return;
    }
    if (capabilities_) {
        then(std::nullopt);
        return;
    }
    call("GetCapabilities", nullptr, [this, then](GDBusMessage* reply, const GError* error) {
        if (error) {
            // Asked again with the next notification: the server may have started by then.
            then(std::string(error->message));
            return;
        }
        std::set<std::string> capabilities;
        GVariant* body = g_dbus_message_get_body(reply);
        if (body && g_variant_is_of_type(body, G_VARIANT_TYPE("(as)"))) {
            const char** names = nullptr;
            g_variant_get(body, "(^a&s)", &names);
            for (const char** name = names; name && *name; ++name) capabilities.insert(*name);
            g_free(names);
        }
        capabilities_ = std::move(capabilities);
        const char* sender = g_dbus_message_get_sender(reply);
        capabilitiesServer_ = sender ? sender : "";
        then(std::nullopt);
    });
}

void DBusNotificationCenter::notify(const platform::NotificationRequest& request,
                                    const std::function<void(std::optional<std::string>)>& done) {
    // Decided now: the capabilities may change, with the server, before the answer comes.
    const bool chimeHere = request.content.sound && !settings_.soundFile.empty() && !capabilities_->contains("sound");
    call("Notify", notifyArguments(request),
         [this, request, done, chimeHere](GDBusMessage* reply, const GError* error) {
             GVariant* body = reply ? g_dbus_message_get_body(reply) : nullptr;
             const char* sender = reply ? g_dbus_message_get_sender(reply) : nullptr;
             if (error || !body || !g_variant_is_of_type(body, G_VARIANT_TYPE("(u)")) || !sender) {
                 if (done) done(std::string(error ? error->message : kUnexpectedAnswer));
                 finished();
                 return;
             }
             guint32 serverId = 0;
             g_variant_get(body, "(u)", &serverId);
             ledger_.put(request.identifier,
                         {sender, serverId, request.content, g_dbus_connection_get_unique_name(connection_)});
             if (chimeHere) settings_.playSound(settings_.soundFile);
             if (done) done(std::nullopt);
             finished();
         });
}

GVariant* DBusNotificationCenter::notifyArguments(const platform::NotificationRequest& request) const {
    const platform::NotificationContent& content = request.content;
    const LedgerEntry* previous = ledger_.find(request.identifier);
    const guint32 replacesId = previous ? previous->serverId : 0;
    const bool payable = isPayable(request.identifier);
    const bool chime = content.sound && !settings_.soundFile.empty();

    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(VELMORA_BUNDLE_ID));
    if (chime && capabilities_->contains("sound")) {
        g_variant_builder_add(&hints, "{sv}", "sound-file", g_variant_new_string(settings_.soundFile.c_str()));
    } else {
        // Either no sound at all, or the chime played here: the server adds none of its own.
        g_variant_builder_add(&hints, "{sv}", "suppress-sound", g_variant_new_boolean(TRUE));
    }
    if (payable) {
        // An open payment request stays on screen, also after a click, until it is dealt with:
        // resident, and without expiry (below). It is not marked critical: GNOME Shell keeps a
        // critical banner up until the user answers it, and every later notification waits
        // behind it without banner and without sound.
        g_variant_builder_add(&hints, "{sv}", "resident", g_variant_new_boolean(TRUE));
    }

    // A server with this capability reads the body as markup; the entry's text is plain.
    std::string body = content.body;
    if (capabilities_->contains("body-markup")) {
        g_autofree char* escaped = g_markup_escape_text(body.c_str(), -1);
        body = escaped;
    }
    const std::array<const char*, 3> actions = {kDefaultAction, kDefaultActionLabel, nullptr};
    return g_variant_new("(susss^asa{sv}i)", kAppName, replacesId, VELMORA_BUNDLE_ID, content.title.c_str(),
                         body.c_str(), actions.data(), &hints, payable ? 0 : -1);
}

void DBusNotificationCenter::onSignal(GDBusConnection* /*connection*/, const char* sender, const char* /*path*/,
                                      const char* /*interface*/, const char* signal, GVariant* parameters,
                                      gpointer data) {
    DBusNotificationCenter* centre = centreOf(data);
    if (!centre || !sender) return;
    const std::string name = signal;
    guint32 id = 0;
    if (name == "NotificationClosed" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
        guint32 reason = 0;
        g_variant_get(parameters, "(uu)", &id, &reason);
        centre->closed(sender, id);
    } else if ((name == "ActionInvoked" || name == "ActivationToken") &&
               g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
        const char* text = nullptr;
        g_variant_get(parameters, "(u&s)", &id, &text);
        if (name == "ActionInvoked")
            centre->actionInvoked(sender, id, text);
        else
            centre->activationToken(sender, id, text);
    }
}

void DBusNotificationCenter::closed(const std::string& sender, std::uint32_t serverId) {
    const auto identifier = ledger_.identifierOf(sender, serverId);
    if (!identifier) return;
    activationTokens_.erase(serverId);
    ledger_.remove({*identifier});
}

void DBusNotificationCenter::activationToken(const std::string& sender, std::uint32_t serverId,
                                             const std::string& token) {
    if (ledger_.identifierOf(sender, serverId)) activationTokens_[serverId] = token;
}

void DBusNotificationCenter::actionInvoked(const std::string& sender, std::uint32_t serverId,
                                           const std::string& action) {
    if (action != kDefaultAction) return;
    const auto identifier = ledger_.identifierOf(sender, serverId);
    if (!identifier) return;
    const platform::NotificationRequest request{*identifier, ledger_.find(*identifier)->content, std::nullopt};
    // The server hands over the right to take the focus with the click; the window uses it the
    // next time it is presented, which the delegate does when the click opens a page.
    if (auto token = activationTokens_.extract(serverId); token && context_.mainWindow)
        gtk_window_set_startup_id(context_.mainWindow, token.mapped().c_str());
    if (delegate_) delegate_->didReceiveNotificationResponse(request, [] {});
}

void DBusNotificationCenter::call(const char* method, GVariant* body, Reply onReply) {
    GDBusMessage* message = g_dbus_message_new_method_call(kName, kPath, kInterface, method);
    if (body) g_dbus_message_set_body(message, body);
    // The message API, not g_dbus_connection_call, because only the reply tells which unique
    // name answered: the ledger needs the server of every notification.
    g_dbus_connection_send_message_with_reply(connection_, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE, -1, nullptr,
                                              cancellable_, onCallDone, new Call{self_, std::move(onReply)});
    g_object_unref(message);
}

}  // namespace gtk
