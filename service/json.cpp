#include "json.h"

namespace service::json {

Node parse(std::string_view text) {
    JsonParser* parser = json_parser_new();
    Node root;
    if (json_parser_load_from_data(parser, text.data(), static_cast<gssize>(text.size()), nullptr)) {
        if (JsonNode* node = json_parser_get_root(parser)) root.reset(json_node_copy(node));
    }
    g_object_unref(parser);
    return root;
}

std::string stringify(JsonNode* node) {
    gchar* text = json_to_string(node, FALSE);
    std::string result = text ? text : "null";
    g_free(text);
    return result;
}

Object newObject() { return Object(json_object_new()); }

Array newArray() { return Array(json_array_new()); }

Node objectNode(JsonObject* object) {
    JsonNode* node = json_node_alloc();
    json_node_init_object(node, object);
    return Node(node);
}

Node arrayNode(JsonArray* array) {
    JsonNode* node = json_node_alloc();
    json_node_init_array(node, array);
    return Node(node);
}

Object asObject(JsonNode* node) {
    if (!node || !JSON_NODE_HOLDS_OBJECT(node)) return nullptr;
    return Object(json_object_ref(json_node_get_object(node)));
}

Object deepCopy(JsonObject* object) {
    Node text = objectNode(object);
    Node copy = parse(stringify(text.get()));
    return asObject(copy.get());
}

std::optional<std::string> stringMember(JsonObject* object, const char* name) {
    JsonNode* node = object ? json_object_get_member(object, name) : nullptr;
    if (!node || !JSON_NODE_HOLDS_VALUE(node) || json_node_get_value_type(node) != G_TYPE_STRING) return std::nullopt;
    return std::string(json_node_get_string(node));
}

std::optional<double> numberMember(JsonObject* object, const char* name) {
    JsonNode* node = object ? json_object_get_member(object, name) : nullptr;
    if (!node || !JSON_NODE_HOLDS_VALUE(node)) return std::nullopt;
    const GType type = json_node_get_value_type(node);
    if (type != G_TYPE_INT64 && type != G_TYPE_DOUBLE) return std::nullopt;
    return json_node_get_double(node);
}

JsonObject* objectMember(JsonObject* object, const char* name) {
    JsonNode* node = object ? json_object_get_member(object, name) : nullptr;
    return node && JSON_NODE_HOLDS_OBJECT(node) ? json_node_get_object(node) : nullptr;
}

std::optional<std::vector<std::string>> stringArrayMember(JsonObject* object, const char* name) {
    JsonNode* node = object ? json_object_get_member(object, name) : nullptr;
    if (!node || !JSON_NODE_HOLDS_ARRAY(node)) return std::nullopt;
    JsonArray* array = json_node_get_array(node);
    std::vector<std::string> strings;
    for (guint i = 0; i < json_array_get_length(array); ++i) {
        JsonNode* element = json_array_get_element(array, i);
        if (!JSON_NODE_HOLDS_VALUE(element) || json_node_get_value_type(element) != G_TYPE_STRING) return std::nullopt;
        strings.emplace_back(json_node_get_string(element));
    }
    return strings;
}

Array stringArray(const std::vector<std::string>& strings) {
    Array array = newArray();
    for (const auto& s : strings) json_array_add_string_element(array.get(), s.c_str());
    return array;
}

}  // namespace service::json
