// What the controller reads of an inbox entry: the same rules for the selection, clearing and
// the unread count.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/foundation/js_value.h"

namespace velmora::inbox {

// The member `key` of the entry when it is a string, nullptr otherwise.
const std::string* stringMember(const foundation::JsValue& entry, const char* key);

// Read once `read_at` is a string; dismissed when `dismissed` is 1, a Boolean true counting as 1.
bool isReadOrDismissed(const foundation::JsValue& entry);

// How many entries wait for the user: those with a string id and kind (the others are never
// announced either), neither read, dismissed nor listed in `readIds`, each id counted once.
std::int64_t countUnread(const foundation::JsValue::Array& entries, const std::vector<std::string>& readIds);

}  // namespace velmora::inbox
