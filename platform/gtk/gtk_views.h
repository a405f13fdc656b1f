// The web view and window ports on WebKitGTK and GTK.
#pragma once

#include "platform/gtk/context.h"
#include "platform/views.h"

namespace gtk {

class GtkViews final : public platform::Views {
public:
    explicit GtkViews(Context& context) : context_(context) {}

    // Views overrides:
    std::unique_ptr<platform::WebView> makeWebView(const platform::WebViewConfiguration& configuration) override;
    std::unique_ptr<platform::Window> makeWindow(int width, int height, const std::string& title) override;

private:
    Context& context_;
};

}  // namespace gtk
