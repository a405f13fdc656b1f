// The application's dialogs and PDF printing on a real GTK display (the test runs under Xvfb).
// What a user sees of them through the page (confirmations, prompts, alerts, files, downloads,
// the print dialog, unusable PDF documents) is tested end to end in tests/e2e/test_dialogs.py;
// these are the rules the page cannot see: answers to closing a dialog, labels shown as written,
// folder choosers, the count of open dialogs that the build watch waits for, and where printed
// pages land on the paper.
#include <cairo-pdf.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <poppler.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "dbus_fakes.h"
#include "platform/gtk/gtk_panels.h"
#include "platform/gtk/printing.h"
#include "platform/window.h"
#include "temp_folder.h"

G_GNUC_BEGIN_IGNORE_DEPRECATIONS

namespace gtk {
namespace {

using adapter_test::TempFolder;
using velmora_test::runMainLoopUntil;

// The shown window of type `type` on `parent` (any window when null), or null.
GtkWindow* openWindowOfType(GType type, GtkWindow* parent = nullptr) {
    GListModel* toplevels = gtk_window_get_toplevels();
    GtkWindow* found = nullptr;
    for (guint i = 0; i < g_list_model_get_n_items(toplevels) && !found; ++i) {
        auto* window = static_cast<GtkWindow*>(g_list_model_get_item(toplevels, i));
        if (G_TYPE_CHECK_INSTANCE_TYPE(window, type) && gtk_widget_get_visible(GTK_WIDGET(window)) &&
            (!parent || gtk_window_get_transient_for(window) == parent))
            found = window;
        g_object_unref(window);
    }
    return found;
}

GtkWindow* waitForWindowOfType(GType type, GtkWindow* parent) {
    GtkWindow* window = nullptr;
    runMainLoopUntil([&] { return (window = openWindowOfType(type, parent)) != nullptr; });
    return window;
}

// A file chooser on `parent` once it is on screen and has begun to list its folder, as it is
// by the time a user could answer it. (A chooser closed before the main loop has turned once
// makes GTK 4.8 report the listing it cancelled as an error.)
GtkWindow* waitForChooser(GtkWindow* parent) {
    GtkWindow* dialog = waitForWindowOfType(GTK_TYPE_FILE_CHOOSER_DIALOG, parent);
    if (!dialog) return nullptr;
    runMainLoopUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(dialog)); });
    for (int turn = 0; turn < 5; ++turn) g_main_context_iteration(nullptr, FALSE);
    return dialog;
}

GtkWidget* buttonOf(GtkWindow* dialog, int response) {
    return gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), response);
}
std::string buttonLabel(GtkWindow* dialog, int response) {
    GtkWidget* button = buttonOf(dialog, response);
    return button ? gtk_button_get_label(GTK_BUTTON(button)) : "<none>";
}

// A prompt's field, found in the dialog's message area.
GtkEntry* entryOf(GtkWindow* dialog) {
    GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog));
    for (GtkWidget* child = gtk_widget_get_first_child(area); child; child = gtk_widget_get_next_sibling(child))
        if (GTK_IS_ENTRY(child)) return GTK_ENTRY(child);
    return nullptr;
}

// The window the panels sit on; the adapter finds it through the context.
class StubWindow final : public platform::Window {
public:
    void setContentView(platform::WebView&) override {}
    void setReleasedWhenClosed(bool) override {}
    void center() override {}
    void makeKeyAndOrderFront() override {}
    void orderOut() override {}
    bool isVisible() const override { return true; }
    bool hasAttachedSheet() const override { return false; }
    void releaseDrawingResources() override {}
};

class GtkDialogsTest : public testing::Test {
protected:
    void SetUp() override {
        context.mainWindow = GTK_WINDOW(gtk_window_new());
        gtk_window_present(context.mainWindow);
    }
    void TearDown() override {
        // Whatever a test left open is closed, so that the next one starts alone.
        while (GtkWindow* left = openWindowOfType(GTK_TYPE_DIALOG))
            gtk_dialog_response(GTK_DIALOG(left), GTK_RESPONSE_CANCEL);
        gtk_window_destroy(context.mainWindow);
        context.mainWindow = nullptr;
        context.printSetup = nullptr;
        runMainLoopUntil([] { return false; }, 20);
        EXPECT_EQ(context.openDialogs, 0);
    }
    GtkWindow* alertOnScreen() { return waitForWindowOfType(GTK_TYPE_MESSAGE_DIALOG, context.mainWindow); }

    Context context;
    StubWindow window;
    GtkPanels panels{context};
};

// The buttons and Escape are pressed end to end; a window closed otherwise answers no button.
TEST_F(GtkDialogsTest, AnAlertShowsItsLabelsAsWrittenAndAnswersNoneWhenItsWindowIsClosed) {
    std::optional<int> answered;
    panels.beginAlert(window, {"Annuler le rendez-vous ?", "", {"_Confirmer", "Annuler"}, std::nullopt},
                      [&](platform::AlertResult result) { answered = result.button; });
    GtkWindow* dialog = alertOnScreen();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(gtk_window_get_modal(dialog));
    EXPECT_EQ(buttonLabel(dialog, 0), "_Confirmer");
    EXPECT_FALSE(gtk_button_get_use_underline(GTK_BUTTON(buttonOf(dialog, 0)))) << "labels are shown as written";
    EXPECT_EQ(buttonLabel(dialog, 1), "Annuler");
    EXPECT_EQ(entryOf(dialog), nullptr) << "no text field";
    EXPECT_FALSE(answered) << "answered before the user did";
    gtk_window_close(dialog);
    EXPECT_TRUE(runMainLoopUntil([&] { return answered.has_value(); }));
    EXPECT_EQ(answered, -1);
}

TEST_F(GtkDialogsTest, OpenDialogsAreCountedUntilAnsweredSoTheBuildWatchWaits) {
    int counted = -1;
    panels.beginAlert(window, {"Premier", "", {"Confirmer", "Annuler"}, std::nullopt}, [](platform::AlertResult) {});
    panels.beginSavePanel(window, "facture-2026.txt",
                          [&](std::optional<std::string>) { counted = context.openDialogs; });
    EXPECT_EQ(context.openDialogs, 2);
    gtk_dialog_response(GTK_DIALOG(waitForChooser(context.mainWindow)), GTK_RESPONSE_CANCEL);
    EXPECT_EQ(counted, 1) << "the answered dialog no longer counts when its answer is handled";
    gtk_dialog_response(GTK_DIALOG(alertOnScreen()), 0);
    EXPECT_EQ(context.openDialogs, 0);

    // A modal alert counts while open, answered from the loop that runModalAlert itself runs.
    struct Answer {
        Context* context;
        int countedWhileOpen = -1;
    } answer{&context};
    g_timeout_add(
        10,
        +[](gpointer data) -> gboolean {
            auto* answer = static_cast<Answer*>(data);
            GtkWindow* dialog = openWindowOfType(GTK_TYPE_MESSAGE_DIALOG, answer->context->mainWindow);
            if (!dialog) return G_SOURCE_CONTINUE;
            answer->countedWhileOpen = answer->context->openDialogs;
            gtk_dialog_response(GTK_DIALOG(dialog), 0);
            return G_SOURCE_REMOVE;
        },
        &answer);
    panels.runModalAlert({"Démarrage automatique indisponible", "Activez Velmóra.", {}, std::nullopt});
    EXPECT_EQ(answer.countedWhileOpen, 1);
    EXPECT_EQ(context.openDialogs, 0);
    EXPECT_EQ(openWindowOfType(GTK_TYPE_MESSAGE_DIALOG), nullptr);
}

TEST_F(GtkDialogsTest, TheOpenDialogChoosesFilesOrFoldersAsTheInputAllows) {
    const struct {
        bool multiple, directories;
        GtkFileChooserAction action;
    } cases[] = {
        {false, false, GTK_FILE_CHOOSER_ACTION_OPEN},
        {true, true, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.multiple ? "several " : "one ") + (c.directories ? "folder" : "file"));
        bool answered = false;
        std::optional<std::vector<std::string>> chosen;
        panels.beginOpenPanel(window, c.multiple, c.directories, [&](std::optional<std::vector<std::string>> files) {
            answered = true;
            chosen = std::move(files);
        });
        GtkWindow* dialog = waitForChooser(context.mainWindow);
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(gtk_window_get_modal(dialog));
        EXPECT_EQ(gtk_file_chooser_get_action(GTK_FILE_CHOOSER(dialog)), c.action);
        EXPECT_EQ(static_cast<bool>(gtk_file_chooser_get_select_multiple(GTK_FILE_CHOOSER(dialog))), c.multiple);
        EXPECT_EQ(buttonLabel(dialog, GTK_RESPONSE_ACCEPT), "_Ouvrir");
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_DELETE_EVENT);
        EXPECT_TRUE(answered);
        EXPECT_FALSE(chosen) << "a dialog closed without choosing leaves the input unchanged";
    }
}

// The save dialog's own folder is where the next one opens, as long as that folder exists. Where
// the first one opens, and the next ones while it exists, is tested end to end.
TEST_F(GtkDialogsTest, TheSaveDialogOpensInTheFolderLastSavedInWhileItIsThere) {
    TempFolder scratch;
    const std::string chosenFolder = scratch / "factures 2026";
    g_mkdir(chosenFolder.c_str(), 0700);
    const auto saveAndAnswer = [&](const std::optional<std::string>& folder) {
        std::optional<std::string> saved;
        panels.beginSavePanel(window, "facture.txt", [&](std::optional<std::string> path) { saved = std::move(path); });
        GtkWindow* dialog = waitForChooser(context.mainWindow);
        g_autoptr(GFile) opened = dialog ? gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(dialog)) : nullptr;
        g_autofree char* openedPath = opened ? g_file_get_path(opened) : nullptr;
        if (folder) {
            g_autoptr(GFile) other = g_file_new_for_path(folder->c_str());
            gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), other, nullptr);
        }
        if (dialog) gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
        runMainLoopUntil([&] { return saved.has_value(); });
        return std::string(openedPath ? openedPath : "<none>");
    };
    const std::string first = saveAndAnswer(chosenFolder);
    EXPECT_EQ(saveAndAnswer(std::nullopt), chosenFolder);
    g_rmdir(chosenFolder.c_str());
    EXPECT_EQ(saveAndAnswer(std::nullopt), first) << "a folder removed since is not offered";
}

TEST_F(GtkDialogsTest, TheAboutPanelShowsTheTextsItIsGiven) {
    panels.showAboutPanel({"Velmóra", "Version 1.4.2 (41)", "La console d’administration."});
    GtkWindow* shown = waitForWindowOfType(GTK_TYPE_ABOUT_DIALOG, context.mainWindow);
    ASSERT_NE(shown, nullptr);
    GtkAboutDialog* about = GTK_ABOUT_DIALOG(shown);
    EXPECT_STREQ(gtk_about_dialog_get_program_name(about), "Velmóra");
    EXPECT_STREQ(gtk_about_dialog_get_version(about), "Version 1.4.2 (41)");
    EXPECT_STREQ(gtk_about_dialog_get_comments(about), "La console d’administration.");
    EXPECT_STREQ(gtk_about_dialog_get_logo_icon_name(about), "fr.velmora.universal") << "the desktop entry's icon";
    gtk_window_close(shown);
}

// ---- PDF printing ----

struct TestPage {
    double width, height;
    double inkX, inkY, inkWidth, inkHeight;  // painted black, in page points
};

std::vector<std::uint8_t> makePdf(const std::vector<TestPage>& pages) {
    std::vector<std::uint8_t> bytes;
    const auto append = [](void* closure, const unsigned char* data, unsigned int length) {
        auto* out = static_cast<std::vector<std::uint8_t>*>(closure);
        out->insert(out->end(), data, data + length);
        return CAIRO_STATUS_SUCCESS;
    };
    cairo_surface_t* surface =
        cairo_pdf_surface_create_for_stream(append, &bytes, pages.front().width, pages.front().height);
    cairo_t* cairo = cairo_create(surface);
    for (const TestPage& page : pages) {
        cairo_pdf_surface_set_size(surface, page.width, page.height);
        cairo_rectangle(cairo, page.inkX, page.inkY, page.inkWidth, page.inkHeight);
        cairo_fill(cairo);
        cairo_show_page(cairo);
    }
    cairo_destroy(cairo);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
    return bytes;
}

// Where the ink of a printed page lies, in points of the paper, found by rendering it.
struct Ink {
    double paperWidth = 0, paperHeight = 0;
    double left = 0, top = 0, right = 0, bottom = 0;  // bounding box of the dark pixels
};

Ink inkOf(PopplerDocument* document, int index) {
    PopplerPage* page = poppler_document_get_page(document, index);
    Ink ink;
    poppler_page_get_size(page, &ink.paperWidth, &ink.paperHeight);
    const int width = static_cast<int>(ink.paperWidth), height = static_cast<int>(ink.paperHeight);
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_t* cairo = cairo_create(image);
    cairo_set_source_rgb(cairo, 1, 1, 1);
    cairo_paint(cairo);
    poppler_page_render(page, cairo);
    cairo_destroy(cairo);
    cairo_surface_flush(image);
    const unsigned char* data = cairo_image_surface_get_data(image);
    int left = width, top = height, right = -1, bottom = -1;
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * cairo_image_surface_get_stride(image));
        for (int x = 0; x < width; ++x) {
            if ((row[x] & 0xff) > 0x40) continue;  // not dark
            left = std::min(left, x), right = std::max(right, x + 1);
            top = std::min(top, y), bottom = std::max(bottom, y + 1);
        }
    }
    ink.left = left, ink.top = top, ink.right = right, ink.bottom = bottom;
    cairo_surface_destroy(image);
    g_object_unref(page);
    return ink;
}

class PdfPrintingTest : public GtkDialogsTest {
protected:
    void SetUp() override {
        GtkDialogsTest::SetUp();
        // With an export folder, prints go to impression-1.pdf, ... there.
        setup.emplace(folder.path);
        context.printSetup = &*setup;
    }

    // Prints `bytes` to a file in the export folder and opens what was written.
    PopplerDocument* printToFile(const std::vector<std::uint8_t>& bytes) {
        std::unique_ptr<platform::PrintOperation> operation;
        bool opened = false;
        printing.openPdf(bytes, [&](std::unique_ptr<platform::PrintOperation> result) {
            operation = std::move(result);
            opened = true;
        });
        EXPECT_FALSE(opened) << "the document is opened away from the main loop";
        EXPECT_TRUE(runMainLoopUntil([&] { return opened; }, 20000));
        if (!operation) return nullptr;
        std::optional<platform::PrintResult> result;
        operation->setShowsPrintPanel(true);
        operation->setShowsProgressPanel(true);
        operation->runModal(window, [&](platform::PrintResult ended) { result = ended; });
        operation.reset();  // the run keeps itself alive
        EXPECT_FALSE(result) << "done must come from the main loop, after runModal returned";
        EXPECT_TRUE(runMainLoopUntil([&] { return result.has_value(); }, 20000));
        EXPECT_TRUE(result && result->success);
        EXPECT_TRUE(result && !result->pageNotified) << "a document prints apart from the page";
        g_autofree char* uri = g_filename_to_uri((folder / "impression-1.pdf").c_str(), nullptr, nullptr);
        return poppler_document_new_from_file(uri, nullptr, nullptr);
    }

    TempFolder folder;
    std::optional<PrintSetup> setup;
    PopplerPrinting printing{context};
};

TEST_F(PdfPrintingTest, EachPageFillsThePrintableAreaCentredWithItsProportionsLandscapeOnesTurned) {
    GtkPageSetup* pageSetup = setup->pageSetup();
    const double paperWidth = gtk_page_setup_get_paper_width(pageSetup, GTK_UNIT_POINTS);
    const double paperHeight = gtk_page_setup_get_paper_height(pageSetup, GTK_UNIT_POINTS);
    const double left = gtk_page_setup_get_left_margin(pageSetup, GTK_UNIT_POINTS);
    const double top = gtk_page_setup_get_top_margin(pageSetup, GTK_UNIT_POINTS);
    const double right = paperWidth - gtk_page_setup_get_right_margin(pageSetup, GTK_UNIT_POINTS);
    const double bottom = paperHeight - gtk_page_setup_get_bottom_margin(pageSetup, GTK_UNIT_POINTS);
    g_object_unref(pageSetup);
    ASSERT_LT(paperWidth, paperHeight) << "the default paper is portrait";
    const double tolerance = 1.5;  // points: rendering rounds to whole pixels
    const struct {
        double width, height;
        bool turned;  // shown a quarter turned on the portrait paper
    } pages[] = {
        {595, 842, false},  // portrait A4, shrunk to the height of the area
        {842, 595, true},   // landscape A4, turned, then shrunk like the portrait one
        {100, 100, false},  // grown to the width; square pages are never turned
        {800, 200, true},   // a wide banner
        {100, 900, false},  // a tall strip
        {612, 792, false},  // another paper's page, shrunk to the width
    };
    std::vector<TestPage> document;
    for (const auto& page : pages) document.push_back({page.width, page.height, 0, 0, page.width, page.height});
    // Half-inked A4 pages: the top half of a portrait page stays on top, and the left half of a
    // landscape page comes to the top: a quarter turn clockwise.
    document.push_back({595, 842, 0, 0, 595, 421});
    document.push_back({842, 595, 0, 0, 421, 595});
    PopplerDocument* printed = printToFile(makePdf(document));
    ASSERT_NE(printed, nullptr);
    ASSERT_EQ(poppler_document_get_n_pages(printed), static_cast<int>(document.size()));
    for (size_t index = 0; index < std::size(pages); ++index) {
        SCOPED_TRACE(index);
        const auto& page = pages[index];
        const Ink ink = inkOf(printed, static_cast<int>(index));
        EXPECT_NEAR(ink.paperWidth, paperWidth, 0.5);
        EXPECT_NEAR(ink.paperHeight, paperHeight, 0.5);
        EXPECT_GE(ink.left, left - tolerance);
        EXPECT_LE(ink.right, right + tolerance);
        EXPECT_GE(ink.top, top - tolerance);
        EXPECT_LE(ink.bottom, bottom + tolerance);
        EXPECT_NEAR(ink.left - left, right - ink.right, tolerance) << "centred across";
        EXPECT_NEAR(ink.top - top, bottom - ink.bottom, tolerance) << "centred down";
        const bool fillsAcross = std::abs(ink.right - ink.left - (right - left)) <= tolerance;
        const bool fillsDown = std::abs(ink.bottom - ink.top - (bottom - top)) <= tolerance;
        EXPECT_TRUE(fillsAcross || fillsDown) << "scaled to fit";
        const double ratio = page.turned ? page.height / page.width : page.width / page.height;
        EXPECT_NEAR((ink.right - ink.left) / (ink.bottom - ink.top), ratio, ratio * 0.01) << "proportions kept";
    }
    for (int half = 0; half < 2; ++half) {
        SCOPED_TRACE(half ? "landscape, left half" : "portrait, top half");
        const Ink whole = inkOf(printed, half), ink = inkOf(printed, static_cast<int>(std::size(pages)) + half);
        EXPECT_NEAR(ink.left, whole.left, tolerance);
        EXPECT_NEAR(ink.right, whole.right, tolerance);
        EXPECT_NEAR(ink.top, whole.top, tolerance);
        EXPECT_NEAR(ink.bottom, (whole.top + whole.bottom) / 2, tolerance);
    }
    g_object_unref(printed);
}

}  // namespace
}  // namespace gtk

G_GNUC_END_IGNORE_DEPRECATIONS

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    g_set_prgname("velmora-adapter-display-tests");
    // The dialogs need a display; without one (outside xvfb-run) there is nothing to test.
    if (!gtk_init_check()) {
        std::fprintf(stderr, "no display: skipped\n");
        return 77;
    }
    return RUN_ALL_TESTS();
}
