#include "platform/foundation/property_list.h"

#include <plist/plist.h>

#include <cstdlib>
#include <limits>
#include <memory>

namespace foundation {

namespace {

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// libplist hands out strings and iterators allocated with malloc; the caller frees them.
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using CString = std::unique_ptr<char, FreeDeleter>;

std::optional<std::string> stringValue(plist_t node) {
    if (plist_get_node_type(node) != PLIST_STRING) {
        return std::nullopt;
    }
    char* raw = nullptr;
    plist_get_string_val(node, &raw);
    const CString owned(raw);
    if (!owned) {
        return std::nullopt;
    }
    return std::string(owned.get());
}

// The array's elements when every one of them is a string; an array with anything else in
// it is left out as a whole rather than reported with holes.
std::optional<std::vector<std::string>> stringArrayValue(plist_t node) {
    std::vector<std::string> values;
    const std::uint32_t size = plist_array_get_size(node);
    values.reserve(size);
    for (std::uint32_t i = 0; i < size; ++i) {
        auto value = stringValue(plist_array_get_item(node, i));
        if (!value) {
            return std::nullopt;
        }
        values.push_back(std::move(*value));
    }
    return values;
}

}  // namespace

std::optional<PropertyListDictionary> readPropertyList(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    // libplist 2.2: returns nothing, leaves the root null when the bytes do not parse. It
    // tells binary from XML by the "bplist00" magic.
    plist_t rawRoot = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(bytes.data()), static_cast<std::uint32_t>(bytes.size()), &rawRoot);
    const PlistPtr root(rawRoot);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
        return std::nullopt;
    }

    PropertyListDictionary dictionary;
    plist_dict_iter rawIter = nullptr;
    plist_dict_new_iter(root.get(), &rawIter);
    const std::unique_ptr<void, FreeDeleter> iter(rawIter);
    if (!iter) {
        return dictionary;
    }
    while (true) {
        char* rawKey = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root.get(), rawIter, &rawKey, &value);
        const CString key(rawKey);
        if (value == nullptr) {
            break;
        }
        if (!key) {
            continue;
        }
        switch (plist_get_node_type(value)) {
            case PLIST_STRING:
                if (auto s = stringValue(value)) {
                    dictionary.strings[key.get()] = std::move(*s);
                }
                break;
            case PLIST_BOOLEAN: {
                std::uint8_t b = 0;
                plist_get_bool_val(value, &b);
                dictionary.booleans[key.get()] = b != 0;
                break;
            }
            case PLIST_ARRAY:
                if (auto a = stringArrayValue(value)) {
                    dictionary.stringArrays[key.get()] = std::move(*a);
                }
                break;
            default:
                break;  // numbers, dates, data and nested dictionaries are not read
        }
    }
    return dictionary;
}

}  // namespace foundation
