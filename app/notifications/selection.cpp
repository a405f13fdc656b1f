// The selection pass: which inbox entries become notifications, with or without sound, and
// which are only recorded in the seen list, the one cursor kept across launches.
#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/notifications/inbox_entry.h"
#include "app/texts.h"
#include "app/velmora.h"
#include "platform/foundation/iso8601.h"
#include "platform/foundation/text.h"

namespace velmora {

namespace {

using inbox::isReadOrDismissed;
using inbox::stringMember;

constexpr const char* kSeenKey = "velmoraSharedNotificationSeen";
constexpr std::size_t kSeenLimit = 4000;
// Entries created longer ago than this are recorded without a notification, so that a first
// poll, or one after a long time offline, does not flood the screen with old entries.
constexpr double kMaximumAgeSeconds = 300.0;
constexpr const char* kPayableKind = "payable";
constexpr const char* kNoticePathPrefix = "/admin?notification=notice&noticeId=";

// The preference of an entry's kind; bookings share one preference whatever their kind's name.
const foundation::JsValue* preferenceOf(const foundation::JsValue::Object& preferences, const std::string& kind) {
    const auto found = preferences.find(kind == "appointment" ? std::string("booking") : kind);
    return found == preferences.end() ? nullptr : &found->second;
}

// Only an explicit false turns a preference flag off; a number counts as a Boolean only when
// it is 0 or 1, and anything else (absent, null, text, other numbers) leaves the flag on.
bool isTurnedOff(const foundation::JsValue* preference, const char* flag) {
    const foundation::JsValue* value = preference ? preference->member(flag) : nullptr;
    return value && (value->boolean() == false || value->number() == 0.0);
}

// The creation time in seconds since the epoch, in either internet date-time form, or nothing
// when the entry has no readable `created_at`.
std::optional<double> creationTimeOf(const foundation::JsValue& entry) {
    const std::string* text = stringMember(entry, "created_at");
    if (!text) return std::nullopt;
    if (const auto time = foundation::parseInternetDateTimeWithFractionalSeconds(*text)) return time;
    return foundation::parseInternetDateTime(*text);
}

}  // namespace

void Velmora::runSelectionPass(const foundation::JsValue::Array& entries,
                               const foundation::JsValue::Object& preferences, const std::string& host) {
    std::set<std::string> seen;
    if (const auto stored = platform_.defaults.stringArray(kSeenKey)) seen.insert(stored->begin(), stored->end());
    const double now = platform_.clock.now();

    for (const foundation::JsValue& entry : entries) {
        const std::string* id = stringMember(entry, "id");
        const std::string* kind = stringMember(entry, "kind");
        if (!id || !kind) continue;
        // The id stays as the server wrote it, so the page's read reports find the notification.
        const std::string identifier = "shared:" + host + ":" + *id;

        if (isReadOrDismissed(entry)) {
            seen.insert(identifier);
            continue;
        }
        const bool payable = *kind == kPayableKind;
        // An open payment request stays on screen: when it is no longer delivered, it comes back.
        const bool missingPayable = payable && !currentDeliveredNoticeIds.contains(identifier);
        const bool alreadySeen = seen.contains(identifier);
        if (alreadySeen && !missingPayable) continue;

        const foundation::JsValue* preference = preferenceOf(preferences, *kind);
        // Not recorded: turning the preference back on may still announce a recent entry.
        if (isTurnedOff(preference, "enabled")) continue;

        if (!payable) {
            const std::optional<double> created = creationTimeOf(entry);
            if (created && now - *created > kMaximumAgeSeconds) {
                seen.insert(identifier);
                continue;
            }
        }

        // Every byte but an ASCII letter or digit is encoded, letters of other scripts included:
        // left as they are, they would make the notification's url an invalid URL, and a click
        // on the notification would then open nothing.
        const std::string path = kNoticePathPrefix + foundation::percentEncodeIdentifier(*id);
        const std::string* title = stringMember(entry, "title");
        const std::string* body = stringMember(entry, "body");
        // A payable announced again has already rung once.
        const bool sound = !alreadySeen && !isTurnedOff(preference, "sound");
        // The notice leads to the console that listed it, where the poll began, even if the page
        // has moved on since: it is recorded as seen either way, so it must not be lost, nor open
        // the console of another host.
        postNotice(host, identifier, title ? *title : std::string(texts::kDefaultNoticeTitle),
                   body ? *body : std::string(), path, sound);
        seen.insert(identifier);
    }

    // The set is ordered by byte, which for UTF-8 is code-point order; the highest identifiers
    // are kept, not the newest, so the stored value stays bounded.
    std::vector<std::string> stored(seen.begin(), seen.end());
    if (stored.size() > kSeenLimit)
        stored.erase(stored.begin(), stored.end() - static_cast<std::ptrdiff_t>(kSeenLimit));
    platform_.defaults.setStringArray(kSeenKey, stored);
}

}  // namespace velmora
