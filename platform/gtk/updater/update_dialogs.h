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

// Opens a dialog as openUpdateDialog does, with one button and a progress bar under the text
// at nothing done yet; `answered` receives 0 for the button and -1 when the dialog was closed
// otherwise.
GtkWindow* openProgressDialog(Context& context, const UpdateDialogText& text, const std::string& button,
                              std::function<void(int)> answered);

// Shows `fraction` (0 to 1) of the work done in the bar of a dialog of openProgressDialog.
void showDialogProgress(GtkWindow* dialog, double fraction);

// Closes a dialog of openUpdateDialog or openProgressDialog that is still open, without calling
// its `answered`.
void closeUpdateDialogSilently(GtkWindow* dialog);

}  // namespace gtk
