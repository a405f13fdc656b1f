// The web process extension: it gives every frame of every page, in the page world, the
// handler objects under window.webkit.messageHandlers. Their postMessage sends the body and
// the facts of the frame that posted it — main frame or not, and its security origin — to the
// UI process. The facts are read here from WebKit's own frame and, for the origin, in a script
// world of our own that the page cannot reach, never from the page: so a page cannot claim to
// be another frame or another origin.
#include <malloc.h>
#include <webkit/webkit-web-process-extension.h>

#include <string>
#include <vector>

#include "platform/foundation/url.h"
#include "platform/gtk/web-extension/bridge_message.h"

namespace {

std::vector<std::string> handlerNames;
// A world of our own, where the page's scripts cannot replace what we read.
WebKitScriptWorld* ownWorld = nullptr;

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

// The security origin of the frame's document: its scheme, host and port. It is read as the
// document's own `self.origin`, which WebKit serialises from the origin, in lower case and
// without the scheme's default port; the document's URL would not do, since a document served
// with a sandbox has an opaque origin ("null") under a URL of its host. An opaque origin, or a
// frame without a network origin (about:blank, data:), reports none, which no check accepts.
struct Origin {
    std::string scheme, host;
    gint32 port = -1;  // -1: the scheme's default
};

Origin originOf(WebKitFrame* frame) {
    JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, ownWorld);
    JSCValue* value = jsc_context_evaluate(context, "self.origin", -1);
    g_autofree char* text = value && jsc_value_is_string(value) ? jsc_value_to_string(value) : nullptr;
    if (value) g_object_unref(value);
    g_object_unref(context);
    const auto url = text ? foundation::Url::parse(text) : std::nullopt;
    if (!url || (url->scheme() != "https" && url->scheme() != "http") || !url->host()) return {};
    return {*url->scheme(), *url->host(), url->port().value_or(-1)};
}

// Whether the script calling now runs in the frame's current document in the page world. A
// handler object kept by a document that has since been replaced in its frame must not speak
// with the facts of the frame's new document.
bool callerIsFramesDocument(WebKitFrame* frame) {
    JSCContext* frameContext = webkit_frame_get_js_context_for_script_world(frame, webkit_script_world_get_default());
    const bool same = frameContext && frameContext == jsc_context_get_current();
    if (frameContext) g_object_unref(frameContext);
    return same;
}

void postMessage(JSCValue* body, gpointer data) {
    const auto* poster = static_cast<Poster*>(data);
    if (!callerIsFramesDocument(poster->frame)) return;
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

// While no window is shown the UI process asks every web process to give back what its
// allocator holds free; the page's own heaps are WebKit's to manage.
gboolean onUserMessage(WebKitWebProcessExtension* /*extension*/, WebKitUserMessage* message, gpointer /*unused*/) {
    if (g_strcmp0(webkit_user_message_get_name(message), gtk::bridge::kReleaseMemoryName) != 0) return FALSE;
    malloc_trim(0);
    return TRUE;
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_process_extension_initialize_with_user_data(
    WebKitWebProcessExtension* extension, const GVariant* userData) {
    // The UI process passes the handler names, in registration order, as an array of strings.
    // WebKit hands the data over as const; GLib's accessors take it as non-const and only read it.
    auto* data = const_cast<GVariant*>(userData);  // NOLINT(cppcoreguidelines-pro-type-const-cast)
    if (data && g_variant_is_of_type(data, G_VARIANT_TYPE_STRING_ARRAY)) {
        gsize count = 0;
        const gchar** names = g_variant_get_strv(data, &count);
        for (gsize i = 0; i < count; ++i) handlerNames.emplace_back(names[i]);
        g_free(names);
    }
    ownWorld = webkit_script_world_new();
    g_signal_connect(extension, "user-message-received", G_CALLBACK(onUserMessage), nullptr);
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(onWindowObjectCleared),
                     nullptr);
}
