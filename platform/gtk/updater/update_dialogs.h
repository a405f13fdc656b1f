// The updater's dialogs: modal on the main window, counted as dialogs of ours so that the
// installed-build watch waits while one is open.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/gtk/context.h"

namespace gtk {

struct UpdateDialogText {
    std::string title;    // the window's title, by which the dialog can be found
    std::string message;  // the main sentence
    std::string detail;   // the smaller text below it; may be empty
};

// Opens a dialog with `buttons` in the order given, `defaultButton` focused and activated by
// Return; `answered` receives the index of the button chosen, or -1 when the dialog was closed
// otherwise. Returns the dialog, which closes itself once answered.
GtkWindow* openUpdateDialog(Context& context, const UpdateDialogText& text, const std::vector<std::string>& buttons,
                            int defaultButton, std::function<void(int)> answered);

// Closes a dialog of openUpdateDialog that is still open, without calling its `answered`.
void closeUpdateDialogSilently(GtkWindow* dialog);

}  // namespace gtk
