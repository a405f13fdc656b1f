#include "app/notifications/inbox_entry.h"

#include <set>

namespace velmora::inbox {

const std::string* stringMember(const foundation::JsValue& entry, const char* key) {
    const foundation::JsValue* value = entry.member(key);
    return value ? value->string() : nullptr;
}

bool isReadOrDismissed(const foundation::JsValue& entry) {
    if (stringMember(entry, "read_at")) return true;
    const foundation::JsValue* dismissed = entry.member("dismissed");
    return dismissed && (dismissed->number() == 1.0 || dismissed->boolean() == true);
}

std::int64_t countUnread(const foundation::JsValue::Array& entries, const std::vector<std::string>& readIds) {
    const std::set<std::string> read(readIds.begin(), readIds.end());
    std::set<std::string> unread;
    for (const foundation::JsValue& entry : entries) {
        const std::string* id = stringMember(entry, "id");
        if (!id || !stringMember(entry, "kind") || isReadOrDismissed(entry) || read.contains(*id)) continue;
        unread.insert(*id);
    }
    return static_cast<std::int64_t>(unread.size());
}

}  // namespace velmora::inbox
