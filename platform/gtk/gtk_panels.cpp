#include "platform/gtk/gtk_panels.h"

namespace gtk {

namespace {

struct AlertState {
    Context* context;
    std::function<void(platform::AlertResult)> done;
    GtkWidget* entry = nullptr;
    GMainLoop* loop = nullptr;  // set while runModalAlert waits
};

void onAlertResponse(GtkDialog* dialog, int response, gpointer data) {
    auto* state = static_cast<AlertState*>(data);
    platform::AlertResult result;
    result.button = response >= 0 ? response : -1;
    if (state->entry) result.text = gtk_editable_get_text(GTK_EDITABLE(state->entry));
    --state->context->openDialogs;
    gtk_window_destroy(GTK_WINDOW(dialog));
    if (state->loop) g_main_loop_quit(state->loop);
    if (state->done) state->done(result);
    delete state;
}

// A message dialog modal on the main window, with the buttons given (responses 0, 1, …).
GtkWidget* makeAlert(Context& context, const platform::AlertSpec& alert, AlertState* state) {
    GtkWidget* dialog = gtk_message_dialog_new(context.mainWindow, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                               GTK_BUTTONS_NONE, "%s", alert.messageText.c_str());
    if (!alert.informativeText.empty())
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", alert.informativeText.c_str());
    if (alert.buttons.empty()) {
        gtk_dialog_add_button(GTK_DIALOG(dialog), "OK", 0);
    } else {
        for (size_t i = 0; i < alert.buttons.size(); ++i)
            gtk_dialog_add_button(GTK_DIALOG(dialog), alert.buttons[i].c_str(), static_cast<int>(i));
    }
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), 0);
    if (alert.textField) {
        state->entry = gtk_entry_new();
        gtk_widget_set_size_request(state->entry, 320, 24);
        gtk_editable_set_text(GTK_EDITABLE(state->entry), alert.textField->c_str());
        gtk_entry_set_activates_default(GTK_ENTRY(state->entry), TRUE);
        gtk_box_append(GTK_BOX(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog))), state->entry);
    }
    g_signal_connect(dialog, "response", G_CALLBACK(onAlertResponse), state);
    ++context.openDialogs;
    return dialog;
}

}  // namespace

void GtkPanels::beginAlert(platform::Window&, const platform::AlertSpec& alert,
                           std::function<void(platform::AlertResult)> done) {
    auto* state = new AlertState{&context_, std::move(done)};
    gtk_window_present(GTK_WINDOW(makeAlert(context_, alert, state)));
}

void GtkPanels::runModalAlert(const platform::AlertSpec& alert) {
    auto* state = new AlertState{&context_, {}};
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    state->loop = loop;
    gtk_window_present(GTK_WINDOW(makeAlert(context_, alert, state)));
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
}

void GtkPanels::beginOpenPanel(platform::Window&, bool, bool,
                               std::function<void(std::optional<std::vector<std::string>>)> done) {
    done(std::nullopt);
}

void GtkPanels::beginSavePanel(platform::Window&, const std::string&,
                               std::function<void(std::optional<std::string>)> done) {
    done(std::nullopt);
}

void GtkPanels::showAboutPanel() {
    gtk_show_about_dialog(context_.mainWindow, "program-name", "Velmóra", "logo-icon-name", VELMORA_BUNDLE_ID,
                          "comments", "La console d’administration de votre espace, avec ses notifications.", nullptr);
}

}  // namespace gtk
