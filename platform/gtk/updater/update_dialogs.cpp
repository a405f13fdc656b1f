#include "platform/gtk/updater/update_dialogs.h"

#include <algorithm>
#include <string>
#include <utility>

namespace gtk {

namespace {

constexpr const char* kStateKey = "velmora-update-dialog";
constexpr const char* kProgressKey = "velmora-update-progress";

struct DialogState {
    Context* context;
    std::function<void(int)> answered;
};

void onResponse(GtkDialog* dialog, int response, gpointer data) {
    auto* state = static_cast<DialogState*>(data);
    // Taken out first: the destruction below frees the state, and the answer may open the
    // next dialog.
    std::function<void(int)> answered = std::move(state->answered);
    gtk_window_destroy(GTK_WINDOW(dialog));
    if (answered) answered(response >= 0 ? response : -1);
}

void onDestroy(GtkWidget*, gpointer data) {
    auto* state = static_cast<DialogState*>(data);
    --state->context->openDialogs;
    delete state;
}

// A dialog of ours, answered through `answered`, not yet shown.
GtkWidget* makeUpdateDialog(Context& context, const UpdateDialogText& text, const std::vector<std::string>& buttons,
                            int defaultButton, std::function<void(int)> answered) {
    // The texts are passed as arguments of "%s", never as formats or markup: feed notes are
    // data from the network.
    GtkWidget* dialog = gtk_message_dialog_new(context.mainWindow, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                               GTK_BUTTONS_NONE, "%s", text.message.c_str());
    if (!text.detail.empty())
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", text.detail.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), text.title.c_str());
    for (size_t i = 0; i < buttons.size(); ++i)
        gtk_dialog_add_button(GTK_DIALOG(dialog), buttons[i].c_str(), static_cast<int>(i));
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), defaultButton);
    // Focus would otherwise go to the first button, and Return would press that one.
    if (GtkWidget* preferred = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), defaultButton))
        gtk_window_set_focus(GTK_WINDOW(dialog), preferred);

    auto* state = new DialogState{&context, std::move(answered)};
    g_object_set_data(G_OBJECT(dialog), kStateKey, state);
    g_signal_connect(dialog, "response", G_CALLBACK(onResponse), state);
    g_signal_connect(dialog, "destroy", G_CALLBACK(onDestroy), state);
    ++context.openDialogs;
    return dialog;
}

}  // namespace

GtkWindow* openUpdateDialog(Context& context, const UpdateDialogText& text, const std::vector<std::string>& buttons,
                            int defaultButton, std::function<void(int)> answered) {
    GtkWidget* dialog = makeUpdateDialog(context, text, buttons, defaultButton, std::move(answered));
    gtk_window_present(GTK_WINDOW(dialog));
    return GTK_WINDOW(dialog);
}

GtkWindow* openProgressDialog(Context& context, const UpdateDialogText& text, const std::string& button,
                              std::function<void(int)> answered) {
    GtkWidget* dialog = makeUpdateDialog(context, text, {button}, 0, std::move(answered));
    GtkWidget* bar = gtk_progress_bar_new();
    gtk_progress_bar_set_show_text(GTK_PROGRESS_BAR(bar), TRUE);
    gtk_box_append(GTK_BOX(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog))), bar);
    g_object_set_data(G_OBJECT(dialog), kProgressKey, bar);
    showDialogProgress(GTK_WINDOW(dialog), 0);
    gtk_window_present(GTK_WINDOW(dialog));
    return GTK_WINDOW(dialog);
}

void showDialogProgress(GtkWindow* dialog, double fraction) {
    auto* bar = static_cast<GtkProgressBar*>(g_object_get_data(G_OBJECT(dialog), kProgressKey));
    if (!bar) return;
    fraction = std::clamp(fraction, 0.0, 1.0);
    gtk_progress_bar_set_fraction(bar, fraction);
    // French puts a narrow no-break space before the per cent sign.
    const std::string percent = std::to_string(static_cast<int>(fraction * 100)) + "\u202F%";
    gtk_progress_bar_set_text(bar, percent.c_str());
}

void closeUpdateDialogSilently(GtkWindow* dialog) {
    if (!dialog) return;
    if (auto* state = static_cast<DialogState*>(g_object_get_data(G_OBJECT(dialog), kStateKey))) state->answered = {};
    gtk_window_destroy(dialog);
}

}  // namespace gtk
