#include "platform/gtk/chime.h"

#include <gst/gst.h>

namespace gtk {

namespace {

// Ends one playback: called by the pipeline's bus on the main loop when the sound is over or
// could not be played. The watch holds the pipeline, which goes with it.
gboolean onPlaybackMessage(GstBus* /*bus*/, GstMessage* message, gpointer data) {
    const GstMessageType type = GST_MESSAGE_TYPE(message);
    if (type != GST_MESSAGE_EOS && type != GST_MESSAGE_ERROR) return G_SOURCE_CONTINUE;
    gst_element_set_state(GST_ELEMENT(data), GST_STATE_NULL);
    return G_SOURCE_REMOVE;
}

}  // namespace

void playSoundFile(const std::string& path) {
    // GStreamer is initialised on the first chime only: most runs never need it.
    static const bool initialised = gst_init_check(nullptr, nullptr, nullptr);
    if (!initialised || path.empty()) return;
    g_autofree char* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    GstElement* pipeline = uri ? gst_element_factory_make("playbin", nullptr) : nullptr;
    if (!pipeline) return;
    g_object_set(pipeline, "uri", uri, nullptr);
    // The watch keeps the pipeline until the playback ends, however that happens.
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_add_watch_full(bus, G_PRIORITY_DEFAULT, onPlaybackMessage, pipeline, gst_object_unref);
    gst_object_unref(bus);
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        // A failed start may post no message at all; end the watch, and with it the pipeline.
        gst_element_set_state(pipeline, GST_STATE_NULL);
        GstBus* failed = gst_element_get_bus(pipeline);
        gst_bus_remove_watch(failed);
        gst_object_unref(failed);
    }
}

}  // namespace gtk
