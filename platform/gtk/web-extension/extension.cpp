// The web process extension: it gives every frame of every page, in the page world, the
// handler objects under window.webkit.messageHandlers. Their postMessage sends the body and
// the facts of the frame that posted it — main frame or not, and its origin — to the UI
// process. The facts are read here from WebKit's own frame, never from the page, so a page
// cannot claim to be another frame or another host.
#include <webkit/webkit-web-process-extension.h>

#include <string>
#include <vector>

#include "platform/foundation/url.h"
#include "platform/gtk/web-extension/bridge_message.h"

namespace {

std::vector<std::string> handlerNames;

struct Poster {
    std::string name;
    WebKitWebPage* page;  // weak: WebKit keeps the page for as long as its frames exist
    WebKitFrame* frame;   // strong
};

void freePoster(gpointer data) {
    auto* poster = static_cast<Poster*>(data);
    g_object_unref(poster->frame);
    delete poster;
}

// The origin of the frame's document: its scheme, host and port. For the main frame that is
// its security origin, since a document can change its URL only within its origin; WebKit
// writes the URL with the scheme in lower case and without the scheme's default port. A frame
// without a network URL (about:blank, data:, srcdoc) reports no origin, which no check accepts.
struct Origin {
    std::string scheme, host;
    guint16 port = 0;  // 0: the scheme's default
};

Origin originOf(WebKitFrame* frame) {
    const char* uri = webkit_frame_get_uri(frame);
    const auto url = uri ? foundation::Url::parse(uri) : std::nullopt;
    if (!url || (url->scheme() != "https" && url->scheme() != "http") || !url->host()) return {};
    const int port = url->port().value_or(0);
    if (port < 0 || port > G_MAXUINT16) return {};
    return {*url->scheme(), *url->host(), static_cast<guint16>(port)};
}

void postMessage(JSCValue* body, gpointer data) {
    const auto* poster = static_cast<Poster*>(data);
    // A body JSON cannot express (undefined, a function, a cycle) arrives as null.
    char* json = body ? jsc_value_to_json(body, 0) : nullptr;
    JSCContext* context = jsc_context_get_current();
    if (context && jsc_context_get_exception(context)) jsc_context_clear_exception(context);
    const Origin origin = originOf(poster->frame);
    GVariant* parameters = g_variant_new(gtk::bridge::kParametersType, poster->name.c_str(), json ? json : "null",
                                         static_cast<gboolean>(webkit_frame_is_main_frame(poster->frame)),
                                         origin.scheme.c_str(), origin.host.c_str(), origin.port);
    g_free(json);
    webkit_web_page_send_message_to_view(poster->page, webkit_user_message_new(gtk::bridge::kMessageName, parameters),
                                         nullptr, nullptr, nullptr);
}

// Returns the object under `name` of `parent`, creating it when the page has none there.
JSCValue* objectMember(JSCContext* context, JSCValue* parent, const char* name) {
    JSCValue* member = jsc_value_object_get_property(parent, name);
    if (member && jsc_value_is_object(member)) return member;
    if (member) g_object_unref(member);
    JSCValue* created = jsc_value_new_object(context, nullptr, nullptr);
    jsc_value_object_set_property(parent, name, created);
    return created;
}

void onWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
    JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
    JSCValue* window = jsc_context_get_global_object(context);
    JSCValue* webkit = objectMember(context, window, "webkit");
    JSCValue* handlers = objectMember(context, webkit, "messageHandlers");
    for (const auto& name : handlerNames) {
        JSCValue* handler = jsc_value_new_object(context, nullptr, nullptr);
        auto* poster = new Poster{name, page, WEBKIT_FRAME(g_object_ref(frame))};
        JSCValue* function = jsc_value_new_function(context, "postMessage", G_CALLBACK(postMessage), poster, freePoster,
                                                    G_TYPE_NONE, 1, JSC_TYPE_VALUE);
        jsc_value_object_set_property(handler, "postMessage", function);
        jsc_value_object_set_property(handlers, name.c_str(), handler);
        g_object_unref(function);
        g_object_unref(handler);
    }
    g_object_unref(handlers);
    g_object_unref(webkit);
    g_object_unref(window);
    g_object_unref(context);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_process_extension_initialize_with_user_data(WebKitWebProcessExtension*,
                                                                                       const GVariant* userData) {
    // The UI process passes the handler names, in registration order, as an array of strings.
    // WebKit hands the data over as const; GLib's accessors take it as non-const and only read it.
    auto* data = const_cast<GVariant*>(userData);  // NOLINT(cppcoreguidelines-pro-type-const-cast)
    if (data && g_variant_is_of_type(data, G_VARIANT_TYPE_STRING_ARRAY)) {
        gsize count = 0;
        const gchar** names = g_variant_get_strv(data, &count);
        for (gsize i = 0; i < count; ++i) handlerNames.emplace_back(names[i]);
        g_free(names);
    }
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(onWindowObjectCleared),
                     nullptr);
}
