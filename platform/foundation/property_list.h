// Reading property lists (XML and binary) through libplist.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace foundation {

// The top-level dictionary of a property list, with the values the system reads from it.
// Keys whose values are of other types (numbers, dates, nested dictionaries) are left out,
// so "present as a string" is simply `strings.contains(key)`.
struct PropertyListDictionary {
    std::map<std::string, std::string> strings;
    std::map<std::string, bool> booleans;
    std::map<std::string, std::vector<std::string>> stringArrays;  // arrays of strings only
};

// Parses XML or binary property-list bytes; nullopt when they do not parse or the root
// is not a dictionary.
std::optional<PropertyListDictionary> readPropertyList(std::span<const std::uint8_t> bytes);

}  // namespace foundation
