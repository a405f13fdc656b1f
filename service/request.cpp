#include "request.h"

#include "text.h"

namespace service {

Request::Request(SoupServerMessage* message, const char* path, GHashTable* query)
    : message_(message), path_(path ? path : "/"), query_(query) {
    SoupMessageHeaders* headers = soup_server_message_get_request_headers(message);
    const char* hostHeader = soup_message_headers_get_one(headers, "Host");
    host_ = hostWithoutPort(hostHeader ? hostHeader : "");
}

std::string Request::rawQuery() const {
    GUri* uri = soup_server_message_get_uri(message_);
    const char* query = uri ? g_uri_get_query(uri) : nullptr;
    return query ? query : "";
}

bool Request::isMethod(const char* name) const { return method() == name; }

std::string Request::method() const { return soup_server_message_get_method(message_); }

std::optional<std::string> Request::query(const char* name) const {
    const char* value = query_ ? static_cast<const char*>(g_hash_table_lookup(query_, name)) : nullptr;
    if (!value) return std::nullopt;
    return std::string(value);
}

std::optional<std::string> Request::cookie(const char* name) const {
    // soup_cookies_from_request() reads client messages only; the Cookie header is a semicolon list, which
    // libsoup's header helper splits.
    const char* header = soup_message_headers_get_list(soup_server_message_get_request_headers(message_), "Cookie");
    if (!header) return std::nullopt;
    GHashTable* pairs = soup_header_parse_semi_param_list(header);
    const auto* value = static_cast<const char*>(g_hash_table_lookup(pairs, name));
    std::optional<std::string> result;
    if (value) result = value;
    soup_header_free_param_list(pairs);
    return result;
}

bool Request::fromLoopback() const {
    GSocketAddress* address = soup_server_message_get_remote_address(message_);
    if (!address || !G_IS_INET_SOCKET_ADDRESS(address)) return false;
    GInetAddress* inet = g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(address));
    return g_inet_address_get_is_loopback(inet);
}

std::string Request::body() const {
    SoupMessageBody* body = soup_server_message_get_request_body(message_);
    GBytes* bytes = soup_message_body_flatten(body);
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    std::string text(data ? data : "", size);
    g_bytes_unref(bytes);
    return text;
}

json::Object Request::jsonBody() const {
    json::Node node = json::parse(body());
    return json::asObject(node.get());
}

void Request::respond(unsigned status, const char* contentType, const std::string& body) {
    soup_server_message_set_status(message_, status, nullptr);
    addHeader("Cache-Control", "no-store");
    soup_server_message_set_response(message_, contentType, SOUP_MEMORY_COPY, body.data(), body.size());
}

void Request::respondJson(unsigned status, JsonNode* node) {
    respond(status, "application/json; charset=utf-8", json::stringify(node));
}

void Request::respondError(unsigned status, const char* message) {
    json::Object error = json::newObject();
    json_object_set_string_member(error.get(), "error", message);
    respondJson(status, json::objectNode(error.get()).get());
}

void Request::redirect(const std::string& location) {
    addHeader("Location", location);
    respond(SOUP_STATUS_FOUND, "text/plain; charset=utf-8", "Redirection vers " + location + "\n");
}

void Request::addHeader(const char* name, const std::string& value) {
    soup_message_headers_append(soup_server_message_get_response_headers(message_), name, value.c_str());
}

}  // namespace service
