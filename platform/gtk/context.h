// State the GTK adapters share: the application object, the delegate and the main widgets.
#pragma once

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <string>

#include "platform/application.h"

namespace gtk {

class PrintSetup;

struct Context {
    GtkApplication* application = nullptr;
    platform::ApplicationDelegate* delegate = nullptr;
    GtkWindow* mainWindow = nullptr;
    WebKitWebView* webView = nullptr;
    // Modal dialogs of ours open on the main window; the installed-build watch waits for them.
    int openDialogs = 0;
    // DESKTOP_AUTOSTART_ID, read before GTK could consume it: the session started us at login.
    bool autostarted = false;
    // Where the web process extension lives (the bundle's Contents/PlugIns).
    std::string extensionDirectory;
    // The print settings of the session, shared by printing the page and printing documents.
    PrintSetup* printSetup = nullptr;
};

}  // namespace gtk
