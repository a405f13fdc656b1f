// An instance host: the sign-in return, the console and its JSON API.
#include "service.h"

#include "documents.h"
#include "text.h"

namespace service {

namespace {

constexpr const char* kSessionCookie = "velmora_session";
constexpr int kSessionMaxAgeSeconds = 30 * 24 * 60 * 60;

json::Object booking(const char* time, const char* client, const char* service, const char* staff) {
    json::Object item = json::newObject();
    json_object_set_string_member(item.get(), "time", time);
    json_object_set_string_member(item.get(), "client", client);
    json_object_set_string_member(item.get(), "service", service);
    json_object_set_string_member(item.get(), "staff", staff);
    return item;
}

json::Object mail(const char* uid, const char* from, const char* subject, const char* received) {
    json::Object item = json::newObject();
    json_object_set_string_member(item.get(), "uid", uid);
    json_object_set_string_member(item.get(), "validity", "1736000000");
    json_object_set_string_member(item.get(), "account", "contact@velmora.fr");
    json_object_set_string_member(item.get(), "from", from);
    json_object_set_string_member(item.get(), "subject", subject);
    json_object_set_string_member(item.get(), "received", received);
    return item;
}

json::Node dashboard() {
    json::Object board = json::newObject();
    JsonArray* bookings = json_array_new();
    json_array_add_object_element(bookings, booking("09:30", "Camille Durand", "Coupe et brushing", "Élise").release());
    json_array_add_object_element(bookings, booking("10:30", "Léa Bernard", "Coloration", "Élise").release());
    json_array_add_object_element(bookings, booking("14:00", "Nathan Roux", "Coupe homme", "Hugo").release());
    json_array_add_object_element(bookings, booking("16:15", "Inès Moreau", "Soin profond", "Élise").release());
    json_object_set_array_member(board.get(), "bookings", bookings);
    JsonArray* mails = json_array_new();
    json_array_add_object_element(
        mails, mail("4821", "Camille Durand", "Décaler mon rendez-vous de jeudi ?", "aujourd’hui, 08:12").release());
    json_array_add_object_element(
        mails, mail("4822", "Fournisseur Capelli", "Votre commande n° 7781 est expédiée", "hier, 17:40").release());
    json_object_set_array_member(board.get(), "messages", mails);
    return json::objectNode(board.get());
}

}  // namespace

std::string Service::sessionCookie(const std::string& value, int maxAgeSeconds) const {
    // Written by hand: SoupCookie always adds a Domain attribute, which would widen the cookie to every
    // subdomain, and writes Expires instead of Max-Age. The cookie belongs to this instance host only.
    std::string header = std::string(kSessionCookie) + "=" + value +
                         "; Path=/; Max-Age=" + std::to_string(maxAgeSeconds) + "; HttpOnly; SameSite=Lax";
    if (secure()) header += "; Secure";
    return header;
}

void Service::handleInstance(Request& request) {
    const std::string& path = request.path();
    if (handleSharedPath(request)) return;
    const auto sessionId = request.cookie(kSessionCookie);
    const User* user = sessionId ? state_.sessionUser(*sessionId, request.host()) : nullptr;

    if (path == "/") {
        request.redirect("/admin");
    } else if (path == "/connexion/retour") {
        handleSignInReturn(request);
    } else if (path == "/deconnexion") {
        handleSignOut(request);
    } else if (path == "/admin" || path.starts_with("/admin/")) {
        if (!user) {
            request.redirect(origin(state_.publicHost()) + "/connexion.html");
        } else {
            renderPage(request, "console.html");
        }
    } else if (path.starts_with("/api/")) {
        handleApi(request, user);
    } else {
        request.respond(SOUP_STATUS_NOT_FOUND, "text/html; charset=utf-8",
                        "<!doctype html><html lang=\"fr\"><meta charset=\"utf-8\"><title>Page introuvable</title>"
                        "<p>Cette page n’existe pas. <a href=\"/admin\">Retour à la console</a></p></html>\n");
    }
}

void Service::handleSignInReturn(Request& request) {
    const auto token = request.query("token");
    const auto session = token ? state_.redeemLoginToken(*token, request.host(), nowMs()) : std::nullopt;
    if (!session) {
        request.redirect(origin(state_.publicHost()) + "/connexion.html?erreur=lien");
        return;
    }
    changed();
    request.addHeader("Set-Cookie", sessionCookie(*session, kSessionMaxAgeSeconds));
    request.redirect("/admin");
}

void Service::handleSignOut(Request& request) {
    if (const auto sessionId = request.cookie(kSessionCookie)) {
        state_.endSession(*sessionId);
        changed();
    }
    request.addHeader("Set-Cookie", sessionCookie("", 0));
    request.redirect(origin(state_.publicHost()) + "/connexion.html?deconnexion=1");
}

void Service::handleApi(Request& request, const User* user) {
    const std::string& path = request.path();
    if (applyApiFault(request)) return;

    if (path == "/api/session") {
        json::Object answer = json::newObject();
        json_object_set_boolean_member(answer.get(), "authenticated", user != nullptr);
        if (user) {
            json_object_set_string_member(answer.get(), "role", user->role.c_str());
            JsonObject* who = json_object_new();
            json_object_set_string_member(who, "email", user->email.c_str());
            json_object_set_string_member(who, "name", user->name.c_str());
            json_object_set_object_member(answer.get(), "user", who);
            json_object_set_string_member(answer.get(), "instance", request.host().c_str());
        }
        request.respondJson(SOUP_STATUS_OK, json::objectNode(answer.get()).get());
        return;
    }
    if (!user) {
        request.respondError(SOUP_STATUS_UNAUTHORIZED, "Connexion nécessaire.");
        return;
    }
    if (user->role != "admin") {
        request.respondError(SOUP_STATUS_FORBIDDEN, "Accès réservé aux administrateurs.");
        return;
    }
    if (path == "/api/admin/notification-inbox") {
        request.respondJson(SOUP_STATUS_OK, state_.inboxJson(request.host()).get());
    } else if (path == "/api/admin/notification-inbox/read") {
        if (!request.isMethod("POST")) {
            request.respondError(SOUP_STATUS_METHOD_NOT_ALLOWED, "Méthode non prise en charge.");
            return;
        }
        json::Object body = request.jsonBody();
        const auto ids = json::stringArrayMember(body.get(), "ids");
        if (!ids) {
            request.respondError(SOUP_STATUS_BAD_REQUEST, "Liste d’identifiants attendue.");
            return;
        }
        const auto found = state_.markRead(request.host(), *ids, nowMs());
        changed();
        json::Object answer = json::newObject();
        json_object_set_boolean_member(answer.get(), "ok", TRUE);
        json_object_set_array_member(answer.get(), "readIds", json::stringArray(found).release());
        request.respondJson(SOUP_STATUS_OK, json::objectNode(answer.get()).get());
    } else if (path == "/api/admin/options") {
        json::Object answer = json::newObject();
        json_object_set_member(answer.get(), "notifications", state_.preferencesJson(request.host()).release());
        request.respondJson(SOUP_STATUS_OK, json::objectNode(answer.get()).get());
    } else if (path == "/api/admin/dashboard") {
        request.respondJson(SOUP_STATUS_OK, dashboard().get());
    } else if (path == "/api/admin/invoice.pdf") {
        request.addHeader("Content-Disposition", "inline; filename=\"facture-2026-001.pdf\"");
        request.respond(SOUP_STATUS_OK, "application/pdf", invoicePdf());
    } else if (path == "/api/admin/reservations.csv") {
        // Text a browser could show, sent for saving.
        request.addHeader("Content-Disposition", "attachment; filename=\"reservations.csv\"");
        request.respond(SOUP_STATUS_OK, "text/csv; charset=utf-8", reservationsCsv());
    } else if (path == "/api/admin/justificatifs.zip") {
        // No Content-Disposition: saved because a browser cannot show it.
        request.respond(SOUP_STATUS_OK, "application/zip", archiveZip());
    } else {
        request.respondError(SOUP_STATUS_NOT_FOUND, "Ressource inconnue.");
    }
}

}  // namespace service
