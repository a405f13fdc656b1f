// The application's dialogs and PDF printing on a real GTK display (the test runs under Xvfb).
#include "platform/gtk/gtk_panels.h"
#include "platform/gtk/printing.h"
#include "platform/window.h"

#include "temp_folder.h"

#include <cairo-pdf.h>
#include <gtest/gtest.h>
#include <poppler.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

G_GNUC_BEGIN_IGNORE_DEPRECATIONS

namespace gtk {
namespace {

using adapter_test::TempFolder;

gboolean keepWaking(gpointer) { return G_SOURCE_CONTINUE; }

// Runs the main loop until `done` holds or `limit` milliseconds have passed.
bool runMainLoopUntil(const std::function<bool()>& done, guint limit = 10000) {
    const gint64 deadline = g_get_monotonic_time() + gint64{limit} * 1000;
    const guint wake = g_timeout_add(5, &keepWaking, nullptr);
    while (!done() && g_get_monotonic_time() < deadline) g_main_context_iteration(nullptr, TRUE);
    g_source_remove(wake);
    return done();
}

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

GtkWindow* waitForWindowOfType(GType type, GtkWindow* parent = nullptr) {
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

std::string buttonLabel(GtkDialog* dialog, int response) {
    GtkWidget* button = gtk_dialog_get_widget_for_response(dialog, response);
    return button ? gtk_button_get_label(GTK_BUTTON(button)) : "<none>";
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

    Context context;
    StubWindow window;
    GtkPanels panels{context};
};

// ---- Alerts ----

TEST_F(GtkDialogsTest, AnAlertAnswersTheIndexOfThePressedButtonAndNoneWhenClosedOtherwise) {
    const struct {
        const char* behaviour;
        int response;
        int expected;
    } cases[] = {
        {"first button", 0, 0},
        {"second button", 1, 1},
        {"closed by the window or Escape", GTK_RESPONSE_DELETE_EVENT, -1},
        {"no response", GTK_RESPONSE_NONE, -1},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        std::optional<int> answered;
        panels.beginAlert(window, {"Annuler le rendez-vous ?", "", {"Confirmer", "Annuler"}, std::nullopt},
                          [&](platform::AlertResult result) { answered = result.button; });
        auto* dialog = GTK_DIALOG(waitForWindowOfType(GTK_TYPE_MESSAGE_DIALOG, context.mainWindow));
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), context.mainWindow);
        EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
        EXPECT_EQ(buttonLabel(dialog, 0), "Confirmer");
        EXPECT_EQ(buttonLabel(dialog, 1), "Annuler");
        EXPECT_FALSE(answered) << "answered before the user did";
        gtk_dialog_response(dialog, testCase.response);
        EXPECT_EQ(answered, testCase.expected);
    }
}

TEST_F(GtkDialogsTest, ClosingAnAlertWindowAnswersNoButton) {
    std::optional<int> answered;
    panels.beginAlert(window, {"Rendez-vous enregistré.", "", {"Confirmer", "Annuler"}, std::nullopt},
                      [&](platform::AlertResult result) { answered = result.button; });
    GtkWindow* dialog = waitForWindowOfType(GTK_TYPE_MESSAGE_DIALOG, context.mainWindow);
    ASSERT_NE(dialog, nullptr);
    gtk_window_close(dialog);
    EXPECT_TRUE(runMainLoopUntil([&] { return answered.has_value(); }));
    EXPECT_EQ(answered, -1);
}

TEST_F(GtkDialogsTest, AnAlertWithoutButtonsHasOneOkButtonThatIsTheDefault) {
    std::optional<int> answered;
    panels.beginAlert(window, {"Rendez-vous enregistré.", "", {}, std::nullopt},
                      [&](platform::AlertResult result) { answered = result.button; });
    auto* dialog = GTK_DIALOG(waitForWindowOfType(GTK_TYPE_MESSAGE_DIALOG, context.mainWindow));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(buttonLabel(dialog, 0), "OK");
    EXPECT_EQ(gtk_dialog_get_widget_for_response(dialog, 1), nullptr);
    EXPECT_EQ(gtk_window_get_default_widget(GTK_WINDOW(dialog)), gtk_dialog_get_widget_for_response(dialog, 0));
    // Return without a focused button: the window activates its default widget.
    gtk_widget_activate_default(GTK_WIDGET(dialog));
    EXPECT_TRUE(runMainLoopUntil([&] { return answered.has_value(); }));
    EXPECT_EQ(answered, 0);
}

TEST_F(GtkDialogsTest, ATitleIsShownAsWrittenWithoutMnemonics) {
    panels.beginAlert(window, {"Question", "", {"_Oui", "Non"}, std::nullopt}, [](platform::AlertResult) {});
    auto* dialog = GTK_DIALOG(waitForWindowOfType(GTK_TYPE_MESSAGE_DIALOG, context.mainWindow));
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(gtk_button_get_use_underline(GTK_BUTTON(gtk_dialog_get_widget_for_response(dialog, 0))));
}

// The prompt's field, found in the dialog's message area.
GtkEntry* entryOf(GtkWindow* dialog) {
    GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog));
    for (GtkWidget* child = gtk_widget_get_first_child(area); child; child = gtk_widget_get_next_sibling(child))
        if (GTK_IS_ENTRY(child)) return GTK_ENTRY(child);
    return nullptr;
}

TEST_F(GtkDialogsTest, APromptFieldIsPrefilledAndAnswersWhatItHoldsWhenPressed) {
    const struct {
        const char* behaviour;
        std::string prefilled;
        std::optional<std::string> typed;  // nullopt: left as it was
        std::string expected;
    } cases[] = {
        {"the default text kept", "Camille Durand", std::nullopt, "Camille Durand"},
        {"the field cleared", "Camille Durand", "", ""},
        {"an empty field typed into", "", "Rappeler jeudi", "Rappeler jeudi"},
        {"text beyond ASCII", "", "Élise « Marchand »", "Élise « Marchand »"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        std::optional<platform::AlertResult> answered;
        panels.beginAlert(window, {"Nom de la cliente", "", {"Valider", "Annuler"}, testCase.prefilled},
                          [&](platform::AlertResult result) { answered = result; });
        GtkWindow* dialog = waitForWindowOfType(GTK_TYPE_MESSAGE_DIALOG, context.mainWindow);
        ASSERT_NE(dialog, nullptr);
        GtkEntry* entry = entryOf(dialog);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(std::string(gtk_editable_get_text(GTK_EDITABLE(entry))), testCase.prefilled);
        int width = 0, height = 0;
        gtk_widget_get_size_request(GTK_WIDGET(entry), &width, &height);
        EXPECT_EQ(width, 320);
        EXPECT_EQ(height, 24);
        GtkWidget* focus = gtk_window_get_focus(dialog);
        EXPECT_TRUE(focus && gtk_widget_is_ancestor(focus, GTK_WIDGET(entry)))
            << "the field takes the keyboard at once";
        if (testCase.typed) gtk_editable_set_text(GTK_EDITABLE(entry), testCase.typed->c_str());
        // Return in the field (its text part has the focus): it presses the default button, "Valider".
        ASSERT_TRUE(focus);
        g_signal_emit_by_name(focus, "activate");
        ASSERT_TRUE(runMainLoopUntil([&] { return answered.has_value(); }));
        EXPECT_EQ(answered->button, 0);
        EXPECT_EQ(answered->text, testCase.expected);
    }
}

TEST_F(GtkDialogsTest, AnAlertWithoutATextFieldHasNone) {
    panels.beginAlert(window, {"Annuler le rendez-vous ?", "", {"Confirmer", "Annuler"}, std::nullopt},
                      [](platform::AlertResult) {});
    GtkWindow* dialog = waitForWindowOfType(GTK_TYPE_MESSAGE_DIALOG, context.mainWindow);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(entryOf(dialog), nullptr);
}

TEST_F(GtkDialogsTest, OpenDialogsAreCountedUntilAnsweredSoTheBuildWatchWaits) {
    int counted = -1;
    panels.beginAlert(window, {"Premier", "", {"Confirmer", "Annuler"}, std::nullopt}, [](platform::AlertResult) {});
    panels.beginSavePanel(window, "facture-2026.txt",
                          [&](std::optional<std::string>) { counted = context.openDialogs; });
    EXPECT_EQ(context.openDialogs, 2);
    gtk_dialog_response(GTK_DIALOG(waitForChooser(context.mainWindow)), GTK_RESPONSE_CANCEL);
    EXPECT_EQ(counted, 1) << "the answered dialog no longer counts when its answer is handled";
    gtk_dialog_response(GTK_DIALOG(waitForWindowOfType(GTK_TYPE_MESSAGE_DIALOG, context.mainWindow)), 0);
    EXPECT_EQ(context.openDialogs, 0);
    panels.beginOpenPanel(window, true, false, [](std::optional<std::vector<std::string>>) {});
    EXPECT_EQ(context.openDialogs, 1);
}

TEST_F(GtkDialogsTest, AModalAlertCountsWhileOpenAndReturnsWhenAnswered) {
    struct Answer {
        Context* context;
        int countedWhileOpen = -1;
    } answer{&context};
    // Answered from the loop that runModalAlert itself runs.
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

// ---- File choosers ----

TEST_F(GtkDialogsTest, TheOpenDialogChoosesFilesOrFoldersAsTheInputAllows) {
    const struct {
        const char* behaviour;
        bool multiple, directories;
        GtkFileChooserAction action;
    } cases[] = {
        {"one file", false, false, GTK_FILE_CHOOSER_ACTION_OPEN},
        {"several files", true, false, GTK_FILE_CHOOSER_ACTION_OPEN},
        {"a folder", false, true, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER},
        {"several folders", true, true, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        bool answered = false;
        std::optional<std::vector<std::string>> chosen;
        panels.beginOpenPanel(window, testCase.multiple, testCase.directories,
                              [&](std::optional<std::vector<std::string>> files) {
                                  answered = true;
                                  chosen = std::move(files);
                              });
        GtkWindow* dialog = waitForChooser(context.mainWindow);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(gtk_window_get_transient_for(dialog), context.mainWindow);
        EXPECT_TRUE(gtk_window_get_modal(dialog));
        EXPECT_EQ(gtk_file_chooser_get_action(GTK_FILE_CHOOSER(dialog)), testCase.action);
        EXPECT_EQ(static_cast<bool>(gtk_file_chooser_get_select_multiple(GTK_FILE_CHOOSER(dialog))), testCase.multiple);
        EXPECT_EQ(buttonLabel(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL), "_Annuler");
        EXPECT_EQ(buttonLabel(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT), "_Ouvrir");
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
        EXPECT_TRUE(answered);
        EXPECT_FALSE(chosen) << "a cancelled dialog leaves the input unchanged";
    }
}

TEST_F(GtkDialogsTest, TheOpenDialogAnswersTheChosenFile) {
    TempFolder folder;
    adapter_test::writeFile(folder / "photo.jpg", "jpeg");
    std::optional<std::vector<std::string>> chosen;
    panels.beginOpenPanel(window, true, false,
                          [&](std::optional<std::vector<std::string>> files) { chosen = std::move(files); });
    GtkWindow* dialog = waitForChooser(context.mainWindow);
    ASSERT_NE(dialog, nullptr);
    GFile* file = g_file_new_for_path((folder / "photo.jpg").c_str());
    gtk_file_chooser_set_file(GTK_FILE_CHOOSER(dialog), file, nullptr);
    g_object_unref(file);
    // The chooser selects the file once it has listed the folder.
    runMainLoopUntil([&] {
        GListModel* files = gtk_file_chooser_get_files(GTK_FILE_CHOOSER(dialog));
        const bool selected = g_list_model_get_n_items(files) > 0;
        g_object_unref(files);
        return selected;
    });
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    ASSERT_TRUE(runMainLoopUntil([&] { return chosen.has_value(); }));
    EXPECT_EQ(*chosen, std::vector<std::string>{folder / "photo.jpg"});
}

TEST_F(GtkDialogsTest, TheSaveDialogIsPrefilledWithTheSuggestedNameAndAnswersThePath) {
    TempFolder folder;
    const struct {
        const char* behaviour;
        int response;
        std::optional<std::string> expected;
    } cases[] = {
        {"saved", GTK_RESPONSE_ACCEPT, folder / "facture-2026.txt"},
        {"cancelled", GTK_RESPONSE_CANCEL, std::nullopt},
        {"closed", GTK_RESPONSE_DELETE_EVENT, std::nullopt},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        bool answered = false;
        std::optional<std::string> path;
        panels.beginSavePanel(window, "facture-2026.txt", [&](std::optional<std::string> chosen) {
            answered = true;
            path = std::move(chosen);
        });
        GtkWindow* dialog = waitForChooser(context.mainWindow);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(gtk_file_chooser_get_action(GTK_FILE_CHOOSER(dialog)), GTK_FILE_CHOOSER_ACTION_SAVE);
        EXPECT_TRUE(gtk_window_get_modal(dialog));
        g_autofree char* name = gtk_file_chooser_get_current_name(GTK_FILE_CHOOSER(dialog));
        EXPECT_STREQ(name, "facture-2026.txt");
        EXPECT_EQ(buttonLabel(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT), "_Enregistrer");
        GFile* where = g_file_new_for_path(folder.path.c_str());
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), where, nullptr);
        g_object_unref(where);
        gtk_dialog_response(GTK_DIALOG(dialog), testCase.response);
        // Before it answers "save", the chooser looks whether the file exists, from the loop.
        EXPECT_TRUE(runMainLoopUntil([&] { return answered; }));
        EXPECT_EQ(path, testCase.expected);
    }
}

// ---- PDF printing ----

struct TestPage {
    double width, height;
    // Paints a region of the page black, in page points.
    double inkX, inkY, inkWidth, inkHeight;
};

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::vector<std::uint8_t>*>(closure)->insert(static_cast<std::vector<std::uint8_t>*>(closure)->end(),
                                                             data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

std::vector<std::uint8_t> makePdf(const std::vector<TestPage>& pages) {
    std::vector<std::uint8_t> bytes;
    cairo_surface_t* surface =
        cairo_pdf_surface_create_for_stream(appendBytes, &bytes, pages.front().width, pages.front().height);
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
    const int stride = cairo_image_surface_get_stride(image);
    int left = width, top = height, right = -1, bottom = -1;
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
        for (int x = 0; x < width; ++x) {
            if ((row[x] & 0xff) > 0x40) continue;  // not dark
            left = std::min(left, x);
            right = std::max(right, x + 1);
            top = std::min(top, y);
            bottom = std::max(bottom, y + 1);
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
        startSession();
        GtkPageSetup* pageSetup = setup->pageSetup();
        paperWidth = gtk_page_setup_get_paper_width(pageSetup, GTK_UNIT_POINTS);
        paperHeight = gtk_page_setup_get_paper_height(pageSetup, GTK_UNIT_POINTS);
        left = gtk_page_setup_get_left_margin(pageSetup, GTK_UNIT_POINTS);
        right = gtk_page_setup_get_right_margin(pageSetup, GTK_UNIT_POINTS);
        top = gtk_page_setup_get_top_margin(pageSetup, GTK_UNIT_POINTS);
        bottom = gtk_page_setup_get_bottom_margin(pageSetup, GTK_UNIT_POINTS);
        g_object_unref(pageSetup);
    }

    // A new print session under the test hook: prints go to impression-1.pdf, ... in the folder.
    void startSession() {
        std::filesystem::remove(folder / "impression-1.pdf");
        g_setenv("VELMORA_PRINT_TO_FILE", folder.path.c_str(), TRUE);
        setup.emplace();
        g_unsetenv("VELMORA_PRINT_TO_FILE");
        context.printSetup = &*setup;
    }

    // Prints `bytes` to a file through the test hook and opens what was written.
    PopplerDocument* printToFile(const std::vector<std::uint8_t>& bytes) {
        auto operation = printing.pdfPrintOperation(bytes);
        if (!operation) return nullptr;
        std::optional<bool> success;
        operation->setShowsPrintPanel(true);
        operation->setShowsProgressPanel(true);
        operation->runModal(window, [&](bool printed) { success = printed; });
        operation.reset();  // the run keeps itself alive
        EXPECT_FALSE(success) << "done must come from the main loop, after runModal returned";
        EXPECT_TRUE(runMainLoopUntil([&] { return success.has_value(); }));
        EXPECT_EQ(success, true);
        g_autofree char* uri = g_filename_to_uri((folder / "impression-1.pdf").c_str(), nullptr, nullptr);
        return poppler_document_new_from_file(uri, nullptr, nullptr);
    }

    TempFolder folder;
    std::optional<PrintSetup> setup;
    PopplerPrinting printing{context};
    double paperWidth = 0, paperHeight = 0, left = 0, right = 0, top = 0, bottom = 0;
};

TEST_F(PdfPrintingTest, BytesThatAreNoUsablePdfGiveNoOperation) {
    const struct {
        const char* behaviour;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"nothing", {}},
        {"text", {'F', 'a', 'c', 't', 'u', 'r', 'e'}},
        {"a PDF header only", {'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n'}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        EXPECT_EQ(printing.pdfPrintOperation(testCase.bytes), nullptr);
    }
    std::vector<std::uint8_t> truncated = makePdf({{595, 842, 0, 0, 10, 10}});
    truncated.resize(truncated.size() / 3);
    EXPECT_EQ(printing.pdfPrintOperation(truncated), nullptr) << "a truncated document";
}

TEST_F(PdfPrintingTest, EveryPageIsPrintedOnThePaper) {
    PopplerDocument* printed =
        printToFile(makePdf({{595, 842, 0, 0, 10, 10}, {842, 595, 0, 0, 10, 10}, {300, 200, 0, 0, 10, 10}}));
    ASSERT_NE(printed, nullptr);
    ASSERT_EQ(poppler_document_get_n_pages(printed), 3);
    for (int index = 0; index < 3; ++index) {
        SCOPED_TRACE(index);
        PopplerPage* page = poppler_document_get_page(printed, index);
        double width = 0, height = 0;
        poppler_page_get_size(page, &width, &height);
        EXPECT_NEAR(width, paperWidth, 0.5);
        EXPECT_NEAR(height, paperHeight, 0.5);
        g_object_unref(page);
    }
    g_object_unref(printed);
}

TEST_F(PdfPrintingTest, PagesFillThePrintableAreaOnOneSideKeepTheirProportionsAndAreCentred) {
    ASSERT_LT(paperWidth, paperHeight) << "the default paper is portrait";
    const double areaRight = paperWidth - right, areaBottom = paperHeight - bottom;
    const double tolerance = 1.5;  // points: rendering rounds to whole pixels
    const struct {
        const char* behaviour;
        double width, height;
        bool turned;  // shown a quarter turned on the portrait paper
    } cases[] = {
        {"portrait A4", 595, 842, false},          // shrunk to the height of the area
        {"landscape A4", 842, 595, true},          // turned, then shrunk like the portrait one
        {"small square, grown", 100, 100, false},  // grown to the width; square pages are never turned
        {"wide banner", 800, 200, true},           // turned, then shrunk to the height
        {"tall strip", 100, 900, false},           // shrunk to the height, narrow
        {"portrait letter", 612, 792, false},      // another paper's page: shrunk to the width
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        startSession();
        PopplerDocument* printed =
            printToFile(makePdf({{testCase.width, testCase.height, 0, 0, testCase.width, testCase.height}}));
        ASSERT_NE(printed, nullptr);
        const Ink ink = inkOf(printed, 0);
        g_object_unref(printed);
        EXPECT_GE(ink.left, left - tolerance);
        EXPECT_LE(ink.right, areaRight + tolerance);
        EXPECT_GE(ink.top, top - tolerance);
        EXPECT_LE(ink.bottom, areaBottom + tolerance);
        EXPECT_NEAR(ink.left - left, areaRight - ink.right, tolerance) << "centred across";
        EXPECT_NEAR(ink.top - top, areaBottom - ink.bottom, tolerance) << "centred down";
        const bool fillsAcross = std::abs(ink.right - ink.left - (areaRight - left)) <= tolerance;
        const bool fillsDown = std::abs(ink.bottom - ink.top - (areaBottom - top)) <= tolerance;
        EXPECT_TRUE(fillsAcross || fillsDown) << "scaled to fit";
        const double printedRatio = (ink.right - ink.left) / (ink.bottom - ink.top);
        const double pageRatio = testCase.turned ? testCase.height / testCase.width : testCase.width / testCase.height;
        EXPECT_NEAR(printedRatio, pageRatio, pageRatio * 0.01) << "proportions kept";
    }
}

TEST_F(PdfPrintingTest, LandscapePagesAreTurnedAQuarterClockwiseAndPortraitOnesNot) {
    const struct {
        const char* behaviour;
        TestPage page;
    } cases[] = {
        // The left half of a landscape page comes to the top of the paper.
        {"landscape, left half inked", {842, 595, 0, 0, 421, 595}},
        {"portrait, top half inked", {595, 842, 0, 0, 595, 421}},
    };
    const double tolerance = 1.5;
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        startSession();
        PopplerDocument* whole = printToFile(
            makePdf({{testCase.page.width, testCase.page.height, 0, 0, testCase.page.width, testCase.page.height}}));
        ASSERT_NE(whole, nullptr);
        const Ink footprint = inkOf(whole, 0);
        g_object_unref(whole);
        startSession();
        PopplerDocument* half = printToFile(makePdf({testCase.page}));
        ASSERT_NE(half, nullptr);
        const Ink ink = inkOf(half, 0);
        g_object_unref(half);
        EXPECT_NEAR(ink.left, footprint.left, tolerance);
        EXPECT_NEAR(ink.right, footprint.right, tolerance);
        EXPECT_NEAR(ink.top, footprint.top, tolerance);
        EXPECT_NEAR(ink.bottom, (footprint.top + footprint.bottom) / 2, tolerance);
    }
}

TEST_F(PdfPrintingTest, TheUsersOwnPrintDialogIsModalAndCancellingItEndsThePrint) {
    PrintSetup ordinary;  // without the test hook: the dialog shows
    context.printSetup = &ordinary;
    auto operation = printing.pdfPrintOperation(makePdf({{595, 842, 0, 0, 10, 10}}));
    ASSERT_NE(operation, nullptr);
    std::optional<bool> success;
    operation->setShowsPrintPanel(true);
    operation->runModal(window, [&](bool printed) { success = printed; });
    operation.reset();
    GtkWindow* dialog = waitForWindowOfType(GTK_TYPE_DIALOG, context.mainWindow);
    ASSERT_NE(dialog, nullptr);
    EXPECT_STREQ(G_OBJECT_TYPE_NAME(dialog), "GtkPrintUnixDialog");
    EXPECT_EQ(gtk_window_get_transient_for(dialog), context.mainWindow);
    EXPECT_TRUE(gtk_window_get_modal(dialog));
    EXPECT_EQ(context.openDialogs, 1);
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
    EXPECT_TRUE(runMainLoopUntil([&] { return success.has_value(); }));
    EXPECT_EQ(success, false);
    EXPECT_EQ(context.openDialogs, 0);
}

}  // namespace
}  // namespace gtk

G_GNUC_END_IGNORE_DEPRECATIONS

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    g_set_prgname("velmora-adapter-display-tests");
    // The dialogs need a display; without one (outside xvfb-run) there is nothing to test.
    if (!gtk_init_check()) {
        fprintf(stderr, "no display: skipped\n");
        return 77;
    }
    return RUN_ALL_TESTS();
}
