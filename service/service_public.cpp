// The public site: the sign-in page and the sign-in API.
#include "service.h"

#include "text.h"

namespace service {

void Service::handlePublicSite(Request& request) {
    const std::string& path = request.path();
    if (handleSharedPath(request)) return;
    if (handleUpdateFile(request)) return;
    if (path == "/") {
        request.redirect("/connexion.html");
    } else if (path == "/connexion.html") {
        renderPage(request, "connexion.html");
    } else if (path == "/api/login") {
        handleLogin(request);
    } else {
        request.respond(SOUP_STATUS_NOT_FOUND, "text/html; charset=utf-8",
                        "<!doctype html><html lang=\"fr\"><meta charset=\"utf-8\"><title>Page introuvable</title>"
                        "<p>Cette page n’existe pas. <a href=\"/connexion.html\">Se connecter</a></p></html>\n");
    }
}

void Service::handleLogin(Request& request) {
    if (!request.isMethod("POST")) {
        request.addHeader("Allow", "POST");
        request.respondError(SOUP_STATUS_METHOD_NOT_ALLOWED, "Méthode non prise en charge.");
        return;
    }
    json::Object body = request.jsonBody();
    const auto email = json::stringMember(body.get(), "email");
    const auto password = json::stringMember(body.get(), "password");
    std::string space = json::stringMember(body.get(), "espace").value_or("");
    // People type the space as they see it in the address bar; keep only the host.
    if (space.starts_with("https://")) space.erase(0, 8);
    if (const auto slash = space.find('/'); slash != std::string::npos) space.erase(slash);
    space = hostWithoutPort(space);
    if (!email || !password || email->empty() || password->empty()) {
        request.respondError(SOUP_STATUS_BAD_REQUEST, "Indiquez votre adresse e-mail et votre mot de passe.");
        return;
    }
    if (!space.empty() && !state_.isInstance(space)) {
        request.respondError(SOUP_STATUS_NOT_FOUND, "Cet espace n’existe pas. Vérifiez l’adresse de votre espace.");
        return;
    }
    const User* user = state_.authenticate(*email, *password, space);
    if (!user) {
        request.respondError(SOUP_STATUS_UNAUTHORIZED, "Adresse e-mail ou mot de passe incorrect.");
        return;
    }
    const std::string token = state_.issueLoginToken(*user, nowMs());
    json::Object answer = json::newObject();
    // The application admits exactly this form of base URL: https, the host, nothing else.
    json_object_set_string_member(answer.get(), "instance", ("https://" + user->host).c_str());
    json_object_set_string_member(answer.get(), "next",
                                  (origin(user->host) + "/connexion/retour?token=" + token).c_str());
    request.respondJson(SOUP_STATUS_OK, json::objectNode(answer.get()).get());
}

}  // namespace service
