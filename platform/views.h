// Creating the web view and the window.
#pragma once

#include <memory>
#include <string>

#include "platform/web_view.h"
#include "platform/window.h"

namespace platform {

class Views {
public:
    virtual ~Views() = default;
    // Creates the web view with `configuration`; created once, before the window.
    virtual std::unique_ptr<WebView> makeWebView(const WebViewConfiguration& configuration) = 0;
    // Creates a hidden, titled, closable, resizable window with a content area of
    // `width` × `height`.
    virtual std::unique_ptr<Window> makeWindow(int width, int height, const std::string& title) = 0;
};

}  // namespace platform
