// Property lists from any bytes (XML, binary, or neither): reading never fails other than by
// giving nothing, and what it reads survives being written by libplist and read again.
#include <glib.h>
#include <plist/plist.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <string>

#include "fuzz/require.h"
#include "platform/foundation/property_list.h"

namespace {

using fuzzing::require;

// The dictionary as libplist's own tree, the way a writer of such files would build it.
plist_t toPlist(const foundation::PropertyListDictionary& dictionary) {
    plist_t root = plist_new_dict();
    for (const auto& [key, value] : dictionary.strings)
        plist_dict_set_item(root, key.c_str(), plist_new_string(value.c_str()));
    for (const auto& [key, value] : dictionary.booleans) plist_dict_set_item(root, key.c_str(), plist_new_bool(value));
    for (const auto& [key, values] : dictionary.stringArrays) {
        plist_t array = plist_new_array();
        for (const auto& value : values) plist_array_append_item(array, plist_new_string(value.c_str()));
        plist_dict_set_item(root, key.c_str(), array);
    }
    return root;
}

bool sameDictionary(const foundation::PropertyListDictionary& a, const foundation::PropertyListDictionary& b) {
    return a.strings == b.strings && a.booleans == b.booleans && a.stringArrays == b.stringArrays;
}

// Whether a writer could reproduce the dictionary. A key read under two types (a binary list
// may repeat a key) can only be written once, and libplist turns text that is not UTF-8 into
// UTF-16 for a binary list as best it can, which loses it.
bool isWritable(const foundation::PropertyListDictionary& dictionary) {
    const auto text = [](const std::string& s) {
        return g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr);
    };
    std::set<std::string> keys;
    for (const auto& [key, value] : dictionary.strings) {
        if (!text(key) || !text(value) || !keys.insert(key).second) return false;
    }
    for (const auto& [key, value] : dictionary.booleans) {
        if (!text(key) || !keys.insert(key).second) return false;
    }
    for (const auto& [key, values] : dictionary.stringArrays) {
        if (!text(key) || !keys.insert(key).second) return false;
        for (const auto& value : values)
            if (!text(value)) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto dictionary = foundation::readPropertyList(std::span<const std::uint8_t>(data, size));
    if (!dictionary || !isWritable(*dictionary)) return 0;

    plist_t root = toPlist(*dictionary);
    char* binary = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(root, &binary, &length);
    plist_free(root);
    require(binary != nullptr, "libplist writes what was read");
    const auto again = foundation::readPropertyList(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(binary), length));
    plist_to_bin_free(binary);
    require(again.has_value() && sameDictionary(*again, *dictionary), "a binary list written from it reads the same");
    return 0;
}
