// The main window.
#pragma once

#include <string>

namespace platform {

class WebView;

class Window {
public:
    virtual ~Window() = default;
    // Makes `view` the window's whole content, following the window's size.
    virtual void setContentView(WebView& view) = 0;
    // With false, closing the window only hides it; the window and its content live on.
    virtual void setReleasedWhenClosed(bool released) = 0;
    // Centres the window on the screen where the window system allows it.
    virtual void center() = 0;
    // Shows the window in front and gives it the keyboard focus.
    virtual void makeKeyAndOrderFront() = 0;
    // Hides the window; it keeps its content and position.
    virtual void orderOut() = 0;
    // Whether the window is shown.
    virtual bool isVisible() const = 0;
    // Whether one of the application's modal dialogs is open on the window.
    virtual bool hasAttachedSheet() const = 0;
    // Gives back to the system what only drawing the hidden window needs; the window draws
    // again, as it was, when it is next shown.
    virtual void releaseDrawingResources() = 0;
};

}  // namespace platform
