// The update files of the public site: whatever the tests put in the folder given with
// --files is served under /mises-a-jour/, read afresh at every request so that a test can
// change the feed or the archive between two checks. At a pace set by the tests the files go
// out a piece at a time, as over a slow line, and what became of each such answer is kept.
#include "service.h"

#include <algorithm>
#include <string_view>

namespace service {

namespace {

constexpr std::string_view kUpdatePath = "/mises-a-jour/";
// Pieces of a paced answer go out ten times a second.
constexpr guint kPieceIntervalMs = 100;

// A plain file name: letters, digits, ".", "-" and "_", not starting with a dot, so that no
// request reaches outside the folder or a hidden file in it.
bool isPlainFileName(std::string_view name) {
    if (name.empty() || name.front() == '.') return false;
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '-' || c == '_';
        if (!plain) return false;
    }
    return true;
}

}  // namespace

void Service::PacedAnswer::stop() {
    if (timer) g_source_remove(timer);
    timer = 0;
    if (!message) return;
    g_signal_handlers_disconnect_by_data(message, this);
    g_object_unref(message);
    message = nullptr;
    body = std::string();
}

gboolean Service::PacedAnswer::sendPiece(gpointer answer) {
    auto* paced = static_cast<PacedAnswer*>(answer);
    const std::size_t size = std::min(paced->piece, paced->body.size() - paced->appended);
    soup_message_body_append(soup_server_message_get_response_body(paced->message), SOUP_MEMORY_COPY,
                             paced->body.data() + paced->appended, size);
    paced->appended += size;
    // libsoup pauses an answer that has written all it was given; this hands it the piece.
    soup_server_message_unpause(paced->message);
    if (paced->appended < paced->body.size()) return G_SOURCE_CONTINUE;
    paced->timer = 0;
    return G_SOURCE_REMOVE;
}

bool Service::handleUpdateFile(Request& request) {
    if (options_.updateFilesDir.empty() || !request.path().starts_with(kUpdatePath)) return false;
    const std::string name = request.path().substr(kUpdatePath.size());
    gchar* contents = nullptr;
    gsize length = 0;
    if (!isPlainFileName(name) ||
        !g_file_get_contents((options_.updateFilesDir + "/" + name).c_str(), &contents, &length, nullptr)) {
        request.respond(SOUP_STATUS_NOT_FOUND, "text/plain; charset=utf-8", "Aucune mise à jour à cette adresse.\n");
        return true;
    }
    std::string body(contents, length);
    g_free(contents);
    const char* type = name.ends_with(".json") ? "application/json" : "application/octet-stream";
    if (updatePace_ == 0 || body.empty()) {
        request.respond(SOUP_STATUS_OK, type, body);
    } else {
        sendPaced(request, type, std::move(body));
    }
    return true;
}

void Service::sendPaced(Request& request, const char* contentType, std::string body) {
    SoupServerMessage* message = request.message();
    soup_server_message_set_status(message, SOUP_STATUS_OK, nullptr);
    request.addHeader("Cache-Control", "no-store");
    request.addHeader("Content-Type", contentType);
    SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
    soup_message_headers_set_content_length(headers, static_cast<goffset>(body.size()));
    // Pieces written are let go of, rather than kept for a whole response nobody reads.
    soup_message_body_set_accumulate(soup_server_message_get_response_body(message), FALSE);

    auto& answer = *pacedAnswers_.emplace_back(std::make_unique<PacedAnswer>());
    answer.path = request.path();
    answer.body = std::move(body);
    answer.piece = std::max<std::size_t>(1, updatePace_ * kPieceIntervalMs / 1000);
    answer.message = SOUP_SERVER_MESSAGE(g_object_ref(message));
    g_signal_connect(message, "wrote-body-data", G_CALLBACK(+[](SoupServerMessage*, guint size, gpointer data) {
                         static_cast<PacedAnswer*>(data)->written += size;
                     }),
                     &answer);
    g_signal_connect(message, "wrote-body", G_CALLBACK(+[](SoupServerMessage*, gpointer data) {
                         static_cast<PacedAnswer*>(data)->complete = true;
                     }),
                     &answer);
    g_signal_connect(message, "finished", G_CALLBACK(+[](SoupServerMessage*, gpointer data) {
                         auto* finished = static_cast<PacedAnswer*>(data);
                         finished->ended = true;
                         finished->stop();
                     }),
                     &answer);
    answer.timer = g_timeout_add(kPieceIntervalMs, PacedAnswer::sendPiece, &answer);
}

void Service::stopPacedAnswers() {
    for (auto& answer : pacedAnswers_) answer->stop();
}

void Service::controlUpdatePace(Request& request, JsonObject* body) {
    const auto pace = json::numberMember(body, "bytes_per_second");
    if (!pace || *pace < 0 || *pace > 1e9) {
        request.respondError(SOUP_STATUS_BAD_REQUEST, "« bytes_per_second » (0 à 10⁹) attendu.");
        return;
    }
    updatePace_ = static_cast<std::size_t>(*pace);
    json::Object answer = json::newObject();
    json_object_set_boolean_member(answer.get(), "ok", TRUE);
    request.respondJson(SOUP_STATUS_OK, json::objectNode(answer.get()).get());
}

void Service::controlPacedAnswers(Request& request, JsonObject*) {
    JsonArray* list = json_array_new();
    for (const auto& paced : pacedAnswers_) {
        JsonObject* record = json_object_new();
        json_object_set_string_member(record, "path", paced->path.c_str());
        json_object_set_int_member(record, "written", static_cast<gint64>(paced->written));
        json_object_set_boolean_member(record, "complete", paced->complete);
        json_object_set_boolean_member(record, "ended", paced->ended);
        json_array_add_object_element(list, record);
    }
    json::Object answer = json::newObject();
    json_object_set_int_member(answer.get(), "bytes_per_second", static_cast<gint64>(updatePace_));
    json_object_set_array_member(answer.get(), "answers", list);
    request.respondJson(SOUP_STATUS_OK, json::objectNode(answer.get()).get());
}

}  // namespace service
