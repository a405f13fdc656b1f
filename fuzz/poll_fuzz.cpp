// The inbox poll's answer, from any JSON text: the snapshot is taken apart, read entries are
// cleared, and the selection pass decides on notices and the seen list. The same answer is
// given twice, as two polls a minute apart would see an unchanged inbox.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/console.h"
#include "platform/foundation/json_text.h"
#include "platform/foundation/url.h"

namespace {

using foundation::JsValue;
using fuzzing::require;

constexpr const char* kSeenKey = "velmoraSharedNotificationSeen";
constexpr std::size_t kSeenLimit = 4000;
const std::string kIdentifierPrefix = std::string("shared:") + fuzzing::kInstanceHost + ":";

// `value` with every non-finite number replaced by null, which is what its JSON text means.
JsValue withoutNonFiniteNumbers(const JsValue& value) {
    if (const auto n = value.number()) return std::isfinite(*n) ? value : JsValue();
    if (const auto* array = value.array()) {
        JsValue::Array out;
        out.reserve(array->size());
        for (const auto& element : *array) out.push_back(withoutNonFiniteNumbers(element));
        return out;
    }
    if (const auto* object = value.object()) {
        JsValue::Object out;
        for (const auto& [key, member] : *object) out.emplace(key, withoutNonFiniteNumbers(member));
        return out;
    }
    return value;
}

// The entries of the snapshot with a string id and a string kind, by id: the only ones the
// selection pass can announce.
std::multiset<std::pair<std::string, std::string>> announceableEntries(const JsValue& snapshot) {
    std::multiset<std::pair<std::string, std::string>> entries;
    const JsValue* list = snapshot.member("notifications");
    if (!list || !list->array()) return entries;
    for (const JsValue& entry : *list->array()) {
        const JsValue* id = entry.member("id");
        const JsValue* kind = entry.member("kind");
        if (id && id->string() && kind && kind->string()) entries.emplace(*id->string(), *kind->string());
    }
    return entries;
}

bool hasEntry(const std::multiset<std::pair<std::string, std::string>>& entries, const std::string& id,
              const char* kind = nullptr) {
    for (const auto& [entryId, entryKind] : entries)
        if (entryId == id && (!kind || entryKind == kind)) return true;
    return false;
}

// What every notice must be: an identifier and a url that lead back to an entry of the
// snapshot on the polled console, the entry's id recoverable from the url.
void checkNotice(const platform::NotificationRequest& request,
                 const std::multiset<std::pair<std::string, std::string>>& entries) {
    require(request.identifier.starts_with(kIdentifierPrefix), "a notice's identifier names the polled host");
    const std::string id = request.identifier.substr(kIdentifierPrefix.size());
    require(hasEntry(entries, id), "a notice stands for an entry with a string id and kind");
    const auto url = request.content.userInfo.find("url");
    require(url != request.content.userInfo.end(), "a notice carries its url");
    const auto parsed = foundation::Url::parse(url->second);
    require(parsed.has_value(), "a notice's url is a valid URL");
    require(parsed->scheme() == "https" && parsed->host() == fuzzing::kInstanceHost && parsed->path() == "/admin",
            "a notice leads to the polled console");
    const auto noticeId = parsed->firstQueryItem("noticeId");
    require(noticeId && noticeId->value == id, "a notice's url gives back the entry's id exactly");
}

void checkSeenList(const fakes::FakeUserDefaults& defaults) {
    const auto seen = defaults.stringArray(kSeenKey);
    require(seen.has_value(), "a signed-in poll stores the seen list");
    require(seen->size() <= kSeenLimit, "the seen list stays bounded");
    require(std::set<std::string>(seen->begin(), seen->end()).size() == seen->size(),
            "the seen list holds each identifier once");
    for (const auto& identifier : *seen)
        require(identifier.starts_with(kIdentifierPrefix), "the seen list holds identifiers of the polled host");
}

// The JSON text the controller writes for a value reads back as that value, save the
// numbers JSON cannot write.
void checkJsonRoundTrip(const JsValue& value) {
    const auto again = foundation::parseJsonText(value.toJson());
    require(again.has_value(), "toJson writes JSON");
    require(*again == withoutNonFiniteNumbers(value), "toJson keeps every value JSON can carry");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto value = foundation::parseJsonText(text);
    if (value) checkJsonRoundTrip(*value);
    // Text that is not JSON stands for a failed evaluation, whose error text it becomes.
    const platform::ScriptResult answer =
        value ? platform::ScriptResult(*value) : platform::ScriptResult(std::string(text));

    fuzzing::Console console;
    console.poll(answer);
    const auto& added = console.fake.notifications.added;
    const std::size_t firstPass = added.size();
    const JsValue* authenticated = value ? value->member("authenticated") : nullptr;
    const bool signedIn = authenticated && authenticated->boolean() == true;
    if (!signedIn) {
        require(added.empty(), "a poll that is not signed in announces nothing");
        require(!console.fake.defaults.values.contains(kSeenKey), "a poll that is not signed in records nothing");
        return 0;
    }

    const auto entries = announceableEntries(*value);
    for (const auto& request : added) checkNotice(request, entries);
    checkSeenList(console.fake.defaults);

    console.poll(answer);
    checkSeenList(console.fake.defaults);
    const std::size_t seen = console.fake.defaults.stringArray(kSeenKey)->size();
    for (std::size_t i = firstPass; i < added.size(); ++i) {
        checkNotice(added[i], entries);
        // Everything else announced or recorded the first time stays quiet; only an open
        // payment request may come back, and only while the seen list has kept it.
        if (seen < kSeenLimit)
            require(hasEntry(entries, added[i].identifier.substr(kIdentifierPrefix.size()), "payable"),
                    "an unchanged inbox announces nothing again but payment requests");
    }
    return 0;
}
