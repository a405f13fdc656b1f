#include "platform/foundation/property_list.h"

#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string_view>

namespace foundation {

namespace {

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// libplist hands out strings and iterators allocated with malloc; the caller frees them.
struct FreeDeleter {
    // The one place memory is freed by hand: this deleter is the RAII around libplist's malloc.
    void operator()(void* p) const { std::free(p); }  // NOLINT(cppcoreguidelines-no-malloc)
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

// The unsigned big-endian integer of `size` bytes at `offset`; nullopt past the end.
std::optional<std::uint64_t> bigEndian(std::span<const std::uint8_t> bytes, std::uint64_t offset, std::uint64_t size) {
    if (size == 0 || size > 8 || offset > bytes.size() || size > bytes.size() - offset) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::uint64_t i = 0; i < size; ++i) {
        value = value << 8 | bytes[offset + i];
    }
    return value;
}

// Whether libplist may be given these binary-list bytes. libplist 2.2 ends the process (a
// failed assert) when a key or a string it hands out holds a NUL character, and a binary list
// can carry one in a UTF-16 string object. So every object of the offset table is looked at
// first, following the format's trailer, and a list with such a string is refused. A list this
// walk cannot follow is refused too: libplist would only read it in some other way. (XML
// text cannot hold a NUL character at all; readPropertyList refuses such bytes itself.)
bool isSafeBinaryList(std::span<const std::uint8_t> bytes) {
    constexpr std::uint64_t kHeader = 8;  // "bplist00"
    constexpr std::uint64_t kTrailer = 32;
    if (bytes.size() < kHeader + kTrailer) {
        return false;
    }
    const std::uint64_t trailer = bytes.size() - kTrailer;
    const std::uint64_t offsetSize = bytes[trailer + 6];
    const auto objects = bigEndian(bytes, trailer + 8, 8);
    const auto table = bigEndian(bytes, trailer + 24, 8);
    if (offsetSize == 0 || offsetSize > 8 || !objects || !table || *table > trailer ||
        *objects > (trailer - *table) / offsetSize) {
        return false;
    }
    for (std::uint64_t i = 0; i < *objects; ++i) {
        const auto offset = bigEndian(bytes, *table + i * offsetSize, offsetSize);
        if (!offset || *offset < kHeader || *offset >= trailer) {
            return false;
        }
        const std::uint8_t marker = bytes[*offset];
        if (marker >> 4 != 0x6) {
            continue;  // not a UTF-16 string
        }
        std::uint64_t start = *offset + 1;
        std::optional<std::uint64_t> units = marker & 0x0F;
        if (*units == 0x0F) {
            // A longer string gives its length as an integer object: 0x1N, then 2^N bytes.
            if (start >= trailer || bytes[start] >> 4 != 0x1 || (bytes[start] & 0x0F) > 3) {
                return false;
            }
            const std::uint64_t size = std::uint64_t{1} << (bytes[start] & 0x0F);
            units = bigEndian(bytes, start + 1, size);
            start += 1 + size;
        }
        if (!units || start > trailer || *units > (trailer - start) / 2) {
            return false;
        }
        for (std::uint64_t unit = 0; unit < *units; ++unit) {
            if (bytes[start + 2 * unit] == 0 && bytes[start + 2 * unit + 1] == 0) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

std::optional<PropertyListDictionary> readPropertyList(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    // libplist 2.2: returns nothing, leaves the root null when the bytes do not parse. It
    // tells binary from XML by the "bplist00" magic.
    constexpr std::string_view kBinaryMagic = "bplist00";
    const bool binary =
        bytes.size() >= kBinaryMagic.size() && std::equal(kBinaryMagic.begin(), kBinaryMagic.end(), bytes.begin());
    if (binary ? !isSafeBinaryList(bytes) : std::find(bytes.begin(), bytes.end(), 0) != bytes.end()) {
        return std::nullopt;  // libplist would hand out a key or string with a NUL in it; see above
    }
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
