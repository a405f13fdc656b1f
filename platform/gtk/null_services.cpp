#include "platform/gtk/null_services.h"

#include <gio/gio.h>

namespace gtk {

bool GioWorkspace::openUrl(const foundation::Url& url) {
    GError* error = nullptr;
    const bool opened = g_app_info_launch_default_for_uri(url.string().c_str(), nullptr, &error);
    g_clear_error(&error);
    return opened;
}

}  // namespace gtk
