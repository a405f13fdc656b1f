#include "platform/gtk/gtk_panels.h"

#include <memory>
#include <utility>

// GtkMessageDialog and GtkFileChooserDialog are the dialogs of the GTK this runs on (4.8);
// their successors, GtkAlertDialog and GtkFileDialog, arrive with GTK 4.10. Newer GTK marks
// the old ones deprecated, which must not break a build there.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS

namespace gtk {

namespace {

// The title of an alert's single button when the caller gives none, as the desktop's own
// alerts read in French.
constexpr const char* kDefaultButton = "OK";
constexpr int kTextFieldWidth = 320;
constexpr int kTextFieldHeight = 24;

// Counts a modal dialog of ours for as long as it is open, so that the installed-build watch
// leaves the user alone while they answer it.
class OpenDialog {
public:
    explicit OpenDialog(Context& context) : context_(context) { ++context_.openDialogs; }
    ~OpenDialog() { --context_.openDialogs; }
    OpenDialog(const OpenDialog&) = delete;
    OpenDialog& operator=(const OpenDialog&) = delete;

private:
    Context& context_;
};

struct AlertState {
    OpenDialog open;
    std::function<void(platform::AlertResult)> done;
    GtkWidget* entry = nullptr;
    GMainLoop* loop = nullptr;  // set while runModalAlert waits
};

void onAlertResponse(GtkDialog* dialog, int response, gpointer data) {
    std::unique_ptr<AlertState> state(static_cast<AlertState*>(data));
    // Our buttons answer their index; Escape and closing the window answer a negative
    // response of GTK's own, which is no button.
    platform::AlertResult result;
    result.button = response >= 0 ? response : -1;
    if (state->entry) result.text = gtk_editable_get_text(GTK_EDITABLE(state->entry));
    g_signal_handlers_disconnect_by_data(dialog, state.get());
    gtk_window_destroy(GTK_WINDOW(dialog));
    if (state->loop) g_main_loop_quit(state->loop);
    auto done = std::move(state->done);
    state.reset();  // the dialog no longer counts as open when the answer is handled
    if (done) done(result);
}

GtkWidget* addButton(GtkDialog* dialog, const std::string& title, int response) {
    GtkWidget* button = gtk_dialog_add_button(dialog, title.c_str(), response);
    // Titles are shown as written: an underscore is not a mnemonic.
    gtk_button_set_use_underline(GTK_BUTTON(button), FALSE);
    return button;
}

// Shows a message dialog modal on the main window, with the buttons given (responses 0, 1,
// ...), the first one the default, and the text field when asked for.
void presentAlert(Context& context, const platform::AlertSpec& alert, AlertState* state) {
    GtkWidget* dialog = gtk_message_dialog_new(context.mainWindow, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                               GTK_BUTTONS_NONE, "%s", alert.messageText.c_str());
    if (!alert.informativeText.empty())
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", alert.informativeText.c_str());
    GtkWidget* defaultButton = nullptr;
    if (alert.buttons.empty()) {
        defaultButton = addButton(GTK_DIALOG(dialog), kDefaultButton, 0);
    } else {
        for (size_t i = 0; i < alert.buttons.size(); ++i) {
            GtkWidget* button = addButton(GTK_DIALOG(dialog), alert.buttons[i], static_cast<int>(i));
            if (i == 0) defaultButton = button;
        }
    }
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), 0);
    if (alert.textField) {
        state->entry = gtk_entry_new();
        gtk_widget_set_size_request(state->entry, kTextFieldWidth, kTextFieldHeight);
        gtk_editable_set_text(GTK_EDITABLE(state->entry), alert.textField->c_str());
        // Return in the field presses the default button, as it does in the desktop's alerts.
        gtk_entry_set_activates_default(GTK_ENTRY(state->entry), TRUE);
        gtk_box_append(GTK_BOX(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog))), state->entry);
    }
    g_signal_connect(dialog, "response", G_CALLBACK(onAlertResponse), state);
    gtk_window_present(GTK_WINDOW(dialog));
    // The user types into the field at once; without one, Return and Space press the default button.
    gtk_widget_grab_focus(state->entry ? state->entry : defaultButton);
}

struct FileDialogState {
    OpenDialog open;
    std::function<void(std::optional<std::vector<std::string>>)> opened;
    std::function<void(std::optional<std::string>)> saved;
};

std::optional<std::string> pathOf(GFile* file) {
    if (!file) return std::nullopt;
    g_autofree char* path = g_file_get_path(file);
    if (!path) return std::nullopt;
    return std::string(path);
}

std::vector<std::string> chosenPaths(GtkFileChooser* chooser) {
    std::vector<std::string> paths;
    GListModel* files = gtk_file_chooser_get_files(chooser);
    for (guint i = 0; i < g_list_model_get_n_items(files); ++i) {
        auto* file = static_cast<GFile*>(g_list_model_get_item(files, i));
        if (auto path = pathOf(file)) paths.push_back(std::move(*path));
        g_object_unref(file);
    }
    g_object_unref(files);
    return paths;
}

void onFileDialogResponse(GtkDialog* dialog, int response, gpointer data) {
    std::unique_ptr<FileDialogState> state(static_cast<FileDialogState*>(data));
    std::optional<std::vector<std::string>> chosen;
    if (response == GTK_RESPONSE_ACCEPT) {
        chosen = chosenPaths(GTK_FILE_CHOOSER(dialog));
        // A choice that names no local file (a remote location) is no choice.
        if (chosen->empty()) chosen.reset();
    }
    g_signal_handlers_disconnect_by_data(dialog, state.get());
    gtk_window_destroy(GTK_WINDOW(dialog));
    auto opened = std::move(state->opened);
    auto saved = std::move(state->saved);
    state.reset();
    // A dialog is either an open panel or a save panel; the choice goes to the one it is.
    if (opened)
        opened(std::move(chosen));
    else if (saved)
        saved(chosen ? std::optional<std::string>(chosen->front()) : std::nullopt);
}

// GTK's own button titles are French only under a French locale; the application's dialogs
// are French everywhere, so the titles are given here.
GtkWidget* makeFileDialog(Context& context, const char* title, GtkFileChooserAction action, const char* accept) {
    GtkWidget* dialog = gtk_file_chooser_dialog_new(title, context.mainWindow, action, "_Annuler", GTK_RESPONSE_CANCEL,
                                                    accept, GTK_RESPONSE_ACCEPT, nullptr);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    return dialog;
}

bool isFolder(const std::string& path) { return !path.empty() && g_file_test(path.c_str(), G_FILE_TEST_IS_DIR); }

const char* openTitle(bool multiple, bool directories) {
    if (directories) return multiple ? "Choisir des dossiers" : "Choisir un dossier";
    return multiple ? "Choisir des fichiers" : "Choisir un fichier";
}

}  // namespace

void GtkPanels::beginAlert(platform::Window&, const platform::AlertSpec& alert,
                           std::function<void(platform::AlertResult)> done) {
    presentAlert(context_, alert, new AlertState{OpenDialog(context_), std::move(done)});
}

void GtkPanels::runModalAlert(const platform::AlertSpec& alert) {
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    auto* state = new AlertState{OpenDialog(context_), {}};
    state->loop = loop;
    presentAlert(context_, alert, state);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
}

void GtkPanels::beginOpenPanel(platform::Window&, bool multiple, bool directories,
                               std::function<void(std::optional<std::vector<std::string>>)> done) {
    // The chooser picks either files or folders; an input that accepts folders gets folders.
    GtkWidget* dialog =
        makeFileDialog(context_, openTitle(multiple, directories),
                       directories ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN, "_Ouvrir");
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(dialog), multiple);
    auto* state = new FileDialogState{OpenDialog(context_), std::move(done), {}};
    g_signal_connect(dialog, "response", G_CALLBACK(onFileDialogResponse), state);
    gtk_window_present(GTK_WINDOW(dialog));
}

// Downloads go where the user keeps downloads until they save one elsewhere; from then on the
// dialog offers that folder again, as the user is likely to file the next one beside it. A folder
// that is gone is passed over. Left to itself the dialog would open in the process's working
// folder, which is wherever the session happened to start the program.
std::string GtkPanels::saveFolder() const {
    if (isFolder(lastSaveFolder_)) return lastSaveFolder_;
    // GLib reads the user's folders once per process; its documentation keeps a reload for a
    // program that changed them itself, since strings handed out earlier would be freed.
    const char* downloads = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
    if (downloads && isFolder(downloads)) return downloads;
    return g_get_home_dir();
}

void GtkPanels::beginSavePanel(platform::Window&, const std::string& suggestedName,
                               std::function<void(std::optional<std::string>)> done) {
    // GTK 4 asks before replacing an existing file by itself; there is no switch for it.
    GtkWidget* dialog =
        makeFileDialog(context_, "Enregistrer le fichier", GTK_FILE_CHOOSER_ACTION_SAVE, "_Enregistrer");
    g_autoptr(GFile) folder = g_file_new_for_path(saveFolder().c_str());
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), folder, nullptr);
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), suggestedName.c_str());
    // The panels live as long as the application, and so longer than any dialog of theirs.
    auto remember = [this, done = std::move(done)](std::optional<std::string> path) {
        if (path) {
            g_autofree char* parent = g_path_get_dirname(path->c_str());
            lastSaveFolder_ = parent;
        }
        done(std::move(path));
    };
    auto* state = new FileDialogState{OpenDialog(context_), {}, std::move(remember)};
    g_signal_connect(dialog, "response", G_CALLBACK(onFileDialogResponse), state);
    gtk_window_present(GTK_WINDOW(dialog));
}

void GtkPanels::showAboutPanel(const platform::AboutPanel& about) {
    // The icon is the one the application's desktop entry names. GTK keeps the panel it made
    // for the window and shows it again; the texts do not change while the program runs.
    gtk_show_about_dialog(context_.mainWindow, "program-name", about.applicationName.c_str(), "version",
                          about.version.empty() ? nullptr : about.version.c_str(), "logo-icon-name", VELMORA_BUNDLE_ID,
                          "comments", about.comments.c_str(), nullptr);
}

}  // namespace gtk

G_GNUC_END_IGNORE_DEPRECATIONS
