// Owning handles and small accessors over json-glib, the JSON library of the service.
#pragma once

#include <json-glib/json-glib.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace service::json {

struct NodeUnref {
    void operator()(JsonNode* node) const noexcept { json_node_unref(node); }
};
struct ObjectUnref {
    void operator()(JsonObject* object) const noexcept { json_object_unref(object); }
};
struct ArrayUnref {
    void operator()(JsonArray* array) const noexcept { json_array_unref(array); }
};
using Node = std::unique_ptr<JsonNode, NodeUnref>;
using Object = std::unique_ptr<JsonObject, ObjectUnref>;
using Array = std::unique_ptr<JsonArray, ArrayUnref>;

// Parses JSON text; returns null when the text is not valid JSON.
Node parse(std::string_view text);

// Serialises a node compactly.
std::string stringify(JsonNode* node);

// Returns a new empty object.
Object newObject();

// Returns a new empty array.
Array newArray();

// Returns a node holding a new reference to the object.
Node objectNode(JsonObject* object);

// Returns a node holding a new reference to the array.
Node arrayNode(JsonArray* array);

// Returns the node's object with a new reference, or null when the node is not an object.
Object asObject(JsonNode* node);

// Returns a deep copy of the object (json-glib's own copy shares nested containers).
Object deepCopy(JsonObject* object);

// Returns the member when it is a string, otherwise nullopt.
std::optional<std::string> stringMember(JsonObject* object, const char* name);

// Returns the member when it is a number, otherwise nullopt.
std::optional<double> numberMember(JsonObject* object, const char* name);

// Returns the member when it is an object (borrowed), otherwise null.
JsonObject* objectMember(JsonObject* object, const char* name);

// Returns the member when it is an array of strings, otherwise nullopt.
std::optional<std::vector<std::string>> stringArrayMember(JsonObject* object, const char* name);

// Returns a new array holding the strings.
Array stringArray(const std::vector<std::string>& strings);

}  // namespace service::json
