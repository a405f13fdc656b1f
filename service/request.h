// One HTTP request of the service with the few reads and answers its handlers need, over SoupServerMessage.
#pragma once

#include "json.h"

#include <libsoup/soup.h>

#include <optional>
#include <string>

namespace service {

class Request {
public:
    Request(SoupServerMessage* message, const char* path, GHashTable* query);

    // Returns the host named by the Host header, without port, lower-cased.
    const std::string& host() const { return host_; }
    // Returns the request path, percent-decoded as libsoup delivers it.
    const std::string& path() const { return path_; }
    // Returns the raw query string, empty when there is none.
    std::string rawQuery() const;
    // Returns whether the method is the given one ("GET", "POST", ...).
    bool isMethod(const char* method) const;
    // Returns the method name.
    std::string method() const;
    // Returns the decoded value of a query parameter, or nullopt when absent.
    std::optional<std::string> query(const char* name) const;
    // Returns the value of a request cookie, or nullopt when absent.
    std::optional<std::string> cookie(const char* name) const;
    // Returns whether the peer's address is a loopback address.
    bool fromLoopback() const;
    // Returns the request body.
    std::string body() const;
    // Returns the request body parsed as a JSON object, or null when it is not one.
    json::Object jsonBody() const;

    // Answers with a status and a body of the given content type, never cached by the client.
    void respond(unsigned status, const char* contentType, const std::string& body);
    // Answers with a status and a JSON body.
    void respondJson(unsigned status, JsonNode* node);
    // Answers with a status and {"error": message}.
    void respondError(unsigned status, const char* message);
    // Answers 302 with the given location.
    void redirect(const std::string& location);
    // Adds a response header; may be called before or after the answer is set.
    void addHeader(const char* name, const std::string& value);
    // Returns the underlying message.
    SoupServerMessage* message() const { return message_; }

private:
    SoupServerMessage* message_;
    std::string path_;
    std::string host_;
    GHashTable* query_;
};

}  // namespace service
