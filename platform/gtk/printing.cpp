#include "platform/gtk/printing.h"

#include <poppler.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace gtk {

namespace {

// The file printer of GTK's print system, which is there without any print server.
constexpr const char* kFilePrinter = "Print to File";

// What every print run has: where it reports, and whether it still waits inside GTK or WebKit.
// A run frees itself once it has finished and no call of the toolkit is under way on it.
struct PrintRun {
    Context& context;
    std::function<void(platform::PrintResult)> done;
    bool exporting = false;
    bool dialogCounted = false;  // the print dialog counts as one of our open dialogs
    bool insideToolkit = false;  // a run call has not returned yet
    bool finished = false;
};

PrintSetup* setupOf(Context& context) { return context.printSetup; }

GtkPrintSettings* startingSettings(Context& context) {
    return setupOf(context) ? setupOf(context)->settings() : gtk_print_settings_new();
}

GtkPageSetup* startingPageSetup(Context& context) {
    return setupOf(context) ? setupOf(context)->pageSetup() : gtk_page_setup_new();
}

std::optional<std::string> exportFileOf(Context& context) {
    return setupOf(context) ? setupOf(context)->nextExportFile() : std::nullopt;
}

void countDialog(PrintRun& run) {
    run.dialogCounted = true;
    ++run.context.openDialogs;
}

void uncountDialog(PrintRun& run) {
    if (!run.dialogCounted) return;
    run.dialogCounted = false;
    --run.context.openDialogs;
}

// ---- The page, through WebKit ----

struct WebPrintRun : PrintRun {
    WebKitPrintOperation* operation = nullptr;
    bool failed = false;
};

void freeWebRun(WebPrintRun* run) {
    g_signal_handlers_disconnect_by_data(run->operation, run);
    g_object_unref(run->operation);
    delete run;
}

// `printed`: WebKit went through with printing, which it brackets with the page's own
// "beforeprint" and "afterprint" events. A cancelled dialog leaves the page untold, and so may a
// failure, which can come before WebKit reached the page: the page is told then, at the risk of
// hearing it twice rather than never.
void finishWebRun(WebPrintRun* run, bool success, bool printed) {
    if (run->finished) return;
    run->finished = true;
    uncountDialog(*run);
    // The file written for a test is no choice of the user's, so it is not kept for the next print.
    if (success && !run->exporting && setupOf(run->context))
        setupOf(run->context)
            ->keep(webkit_print_operation_get_print_settings(run->operation),
                   webkit_print_operation_get_page_setup(run->operation));
    auto done = std::move(run->done);
    if (!run->insideToolkit) freeWebRun(run);
    if (done) done({success, printed});
}

void onWebPrintFailed(WebKitPrintOperation*, GError*, gpointer data) {
    // WebKit reports the end with "finished" right after this.
    static_cast<WebPrintRun*>(data)->failed = true;
}

void onWebPrintFinished(WebKitPrintOperation*, gpointer data) {
    auto* run = static_cast<WebPrintRun*>(data);
    finishWebRun(run, !run->failed, !run->failed);
}

struct WebPrintStart {
    WebPrintRun* run;
    bool showsPanel;
};

gboolean startWebPrint(gpointer data) {
    std::unique_ptr<WebPrintStart> start(static_cast<WebPrintStart*>(data));
    WebPrintRun* run = start->run;
    Context& context = run->context;
    GtkPrintSettings* settings = startingSettings(context);
    GtkPageSetup* pageSetup = startingPageSetup(context);
    const auto exportFile = exportFileOf(context);
    if (exportFile) {
        g_autofree char* uri = g_filename_to_uri(exportFile->c_str(), nullptr, nullptr);
        gtk_print_settings_set_printer(settings, kFilePrinter);
        gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_URI, uri);
        gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_FILE_FORMAT, "pdf");
        run->exporting = true;
    }
    webkit_print_operation_set_print_settings(run->operation, settings);
    webkit_print_operation_set_page_setup(run->operation, pageSetup);
    g_object_unref(settings);
    g_object_unref(pageSetup);
    g_signal_connect(run->operation, "failed", G_CALLBACK(onWebPrintFailed), run);
    g_signal_connect(run->operation, "finished", G_CALLBACK(onWebPrintFinished), run);
    if (run->exporting || !start->showsPanel) {
        webkit_print_operation_print(run->operation);
        return G_SOURCE_REMOVE;
    }
    // The dialog runs its own loop and returns when it closes; printing then goes on without it.
    countDialog(*run);
    run->insideToolkit = true;
    const WebKitPrintOperationResponse response = webkit_print_operation_run_dialog(run->operation, context.mainWindow);
    run->insideToolkit = false;
    uncountDialog(*run);
    if (run->finished) {
        freeWebRun(run);
        return G_SOURCE_REMOVE;
    }
    // A cancelled dialog ends the operation without "finished".
    if (response == WEBKIT_PRINT_OPERATION_RESPONSE_CANCEL) finishWebRun(run, false, false);
    return G_SOURCE_REMOVE;
}

class WebPrintOperation final : public platform::PrintOperation {
public:
    WebPrintOperation(Context& context, WebKitWebView* view)
        : context_(context), operation_(webkit_print_operation_new(view)) {}
    ~WebPrintOperation() override {
        if (operation_) g_object_unref(operation_);
    }
    WebPrintOperation(const WebPrintOperation&) = delete;
    WebPrintOperation& operator=(const WebPrintOperation&) = delete;

    void setShowsPrintPanel(bool shows) override { showsPanel_ = shows; }
    // WebKit shows no progress of its own while the page prints; there is nothing to switch.
    void setShowsProgressPanel(bool) override {}

    void runModal(platform::Window&, std::function<void(platform::PrintResult)> done) override {
        auto* run = new WebPrintRun{{context_, std::move(done)}};
        run->operation = std::exchange(operation_, nullptr);
        // Started from the main loop, so that this returns at once, as the caller expects, and
        // the dialog's own loop does not run inside the page's message.
        g_idle_add(startWebPrint, new WebPrintStart{run, showsPanel_});
    }

private:
    Context& context_;
    WebKitPrintOperation* operation_;
    bool showsPanel_ = true;
};

// ---- PDF documents, through poppler ----

// A PDF document drawn ahead into one recording per page, away from the main loop: printing it
// then only replays the recordings, and poppler never runs on the main loop.
struct PdfPages {
    struct Page {
        double width = 0, height = 0;
        cairo_surface_t* recording = nullptr;
    };
    std::vector<Page> pages;

    PdfPages() = default;
    ~PdfPages() {
        for (const Page& page : pages) cairo_surface_destroy(page.recording);
    }
    PdfPages(const PdfPages&) = delete;
    PdfPages& operator=(const PdfPages&) = delete;
    PdfPages(PdfPages&&) = delete;
    PdfPages& operator=(PdfPages&&) = delete;
};

struct PdfPrintRun : PrintRun {
    std::unique_ptr<PdfPages> document{};
    GtkPrintOperation* operation = nullptr;
};

void freePdfRun(PdfPrintRun* run) {
    if (run->operation) {
        g_signal_handlers_disconnect_by_data(run->operation, run);
        g_object_unref(run->operation);
    }
    delete run;
}

void finishPdfRun(PdfPrintRun* run, bool success) {
    if (run->finished) return;
    run->finished = true;
    uncountDialog(*run);
    if (success && !run->exporting && setupOf(run->context))
        setupOf(run->context)
            ->keep(gtk_print_operation_get_print_settings(run->operation),
                   gtk_print_operation_get_default_page_setup(run->operation));
    auto done = std::move(run->done);
    if (!run->insideToolkit) freePdfRun(run);
    // The page knows nothing of a document printed apart from it.
    if (done) done({success, false});
}

// Draws one page of the document into the printable area: turned a quarter when its
// orientation differs from the paper's, scaled to fit while keeping its proportions, centred.
void onDrawPage(GtkPrintOperation*, GtkPrintContext* printContext, int pageNumber, gpointer data) {
    auto* run = static_cast<PdfPrintRun*>(data);
    if (pageNumber < 0 || static_cast<std::size_t>(pageNumber) >= run->document->pages.size()) return;
    const PdfPages::Page& page = run->document->pages[static_cast<std::size_t>(pageNumber)];
    const double pageWidth = page.width, pageHeight = page.height;
    const double width = gtk_print_context_get_width(printContext);
    const double height = gtk_print_context_get_height(printContext);
    if (pageWidth <= 0 || pageHeight <= 0 || width <= 0 || height <= 0) return;
    const bool turn = (pageWidth > pageHeight) != (width > height);
    const double footprintWidth = turn ? pageHeight : pageWidth;
    const double footprintHeight = turn ? pageWidth : pageHeight;
    const double scale = std::min(width / footprintWidth, height / footprintHeight);

    cairo_t* cairo = gtk_print_context_get_cairo_context(printContext);
    cairo_save(cairo);
    cairo_translate(cairo, width / 2, height / 2);
    if (turn) cairo_rotate(cairo, G_PI / 2);
    cairo_scale(cairo, scale, scale);
    cairo_translate(cairo, -pageWidth / 2, -pageHeight / 2);
    cairo_set_source_surface(cairo, page.recording, 0, 0);
    cairo_paint(cairo);
    cairo_restore(cairo);
}

void onPdfPrintDone(GtkPrintOperation*, GtkPrintOperationResult result, gpointer data) {
    finishPdfRun(static_cast<PdfPrintRun*>(data), result == GTK_PRINT_OPERATION_RESULT_APPLY);
}

struct PdfPrintStart {
    PdfPrintRun* run;
    bool showsPanel;
    bool showsProgress;
};

gboolean startPdfPrint(gpointer data) {
    std::unique_ptr<PdfPrintStart> start(static_cast<PdfPrintStart*>(data));
    PdfPrintRun* run = start->run;
    Context& context = run->context;
    run->operation = gtk_print_operation_new();
    GtkPrintSettings* settings = startingSettings(context);
    GtkPageSetup* pageSetup = startingPageSetup(context);
    gtk_print_operation_set_print_settings(run->operation, settings);
    gtk_print_operation_set_default_page_setup(run->operation, pageSetup);
    g_object_unref(settings);
    g_object_unref(pageSetup);
    gtk_print_operation_set_n_pages(run->operation, static_cast<int>(run->document->pages.size()));
    gtk_print_operation_set_unit(run->operation, GTK_UNIT_POINTS);
    gtk_print_operation_set_show_progress(run->operation, start->showsProgress);
    gtk_print_operation_set_allow_async(run->operation, TRUE);
    g_signal_connect(run->operation, "draw-page", G_CALLBACK(onDrawPage), run);
    g_signal_connect(run->operation, "done", G_CALLBACK(onPdfPrintDone), run);

    GtkPrintOperationAction action =
        start->showsPanel ? GTK_PRINT_OPERATION_ACTION_PRINT_DIALOG : GTK_PRINT_OPERATION_ACTION_PRINT;
    if (const auto exportFile = exportFileOf(context)) {
        gtk_print_operation_set_export_filename(run->operation, exportFile->c_str());
        action = GTK_PRINT_OPERATION_ACTION_EXPORT;
        run->exporting = true;
    }
    if (action == GTK_PRINT_OPERATION_ACTION_PRINT_DIALOG) countDialog(*run);
    run->insideToolkit = true;
    GError* error = nullptr;
    const GtkPrintOperationResult result = gtk_print_operation_run(run->operation, action, context.mainWindow, &error);
    run->insideToolkit = false;
    g_clear_error(&error);
    if (run->finished) {
        freePdfRun(run);
        return G_SOURCE_REMOVE;
    }
    // A run that ended at once, with an error for instance, may not have said so with "done".
    if (result != GTK_PRINT_OPERATION_RESULT_IN_PROGRESS) finishPdfRun(run, result == GTK_PRINT_OPERATION_RESULT_APPLY);
    return G_SOURCE_REMOVE;
}

class PdfPrintOperation final : public platform::PrintOperation {
public:
    PdfPrintOperation(Context& context, std::unique_ptr<PdfPages> document)
        : context_(context), document_(std::move(document)) {}
    ~PdfPrintOperation() override = default;
    PdfPrintOperation(const PdfPrintOperation&) = delete;
    PdfPrintOperation& operator=(const PdfPrintOperation&) = delete;

    void setShowsPrintPanel(bool shows) override { showsPanel_ = shows; }
    void setShowsProgressPanel(bool shows) override { showsProgress_ = shows; }

    void runModal(platform::Window&, std::function<void(platform::PrintResult)> done) override {
        auto* run = new PdfPrintRun{{context_, std::move(done)}};
        run->document = std::move(document_);
        // Started from the main loop, so that this returns at once and "done" always comes later.
        g_idle_add(startPdfPrint, new PdfPrintStart{run, showsPanel_, showsProgress_});
    }

private:
    Context& context_;
    std::unique_ptr<PdfPages> document_;
    bool showsPanel_ = true;
    bool showsProgress_ = false;
};

}  // namespace

PrintSetup::PrintSetup(std::optional<std::string> exportDirectory)
    : settings_(gtk_print_settings_new()),
      pageSetup_(gtk_page_setup_new()),
      exportDirectory_(std::move(exportDirectory)) {
    // GTK's file printer writes into the process's working folder unless told a file; the user
    // looks for a document in the documents folder.
    const char* documents = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS);
    const char* folder = documents && g_file_test(documents, G_FILE_TEST_IS_DIR) ? documents : g_get_home_dir();
    g_autofree char* path = g_build_filename(folder, "Velmóra.pdf", nullptr);
    g_autofree char* uri = g_filename_to_uri(path, nullptr, nullptr);
    if (uri) gtk_print_settings_set(settings_, GTK_PRINT_SETTINGS_OUTPUT_URI, uri);
}

PrintSetup::~PrintSetup() {
    g_object_unref(settings_);
    g_object_unref(pageSetup_);
}

GtkPrintSettings* PrintSetup::settings() const { return gtk_print_settings_copy(settings_); }

GtkPageSetup* PrintSetup::pageSetup() const { return gtk_page_setup_copy(pageSetup_); }

void PrintSetup::keep(GtkPrintSettings* settings, GtkPageSetup* pageSetup) {
    if (settings) {
        g_object_unref(settings_);
        settings_ = gtk_print_settings_copy(settings);
    }
    if (pageSetup) {
        g_object_unref(pageSetup_);
        pageSetup_ = gtk_page_setup_copy(pageSetup);
    }
}

std::optional<std::string> PrintSetup::nextExportFile() {
    if (!exportDirectory_) return std::nullopt;
    const std::string name = "impression-" + std::to_string(++exports_) + ".pdf";
    g_autofree char* path = g_build_filename(exportDirectory_->c_str(), name.c_str(), nullptr);
    return std::string(path);
}

std::unique_ptr<platform::PrintOperation> makeWebPrintOperation(Context& context, WebKitWebView* view) {
    return std::make_unique<WebPrintOperation>(context, view);
}

namespace {

// Opens and draws the document in a worker thread: poppler reads the whole file structure up
// front and then each page, and a damaged or hostile document can keep it busy for long, which
// must not freeze the window or the notifications. The thread has the document to itself.
void openDocument(GTask* task, gpointer, gpointer data, GCancellable*) {
    auto* bytes = static_cast<GBytes*>(data);
    g_autoptr(GError) error = nullptr;
    PopplerDocument* document = poppler_document_new_from_bytes(bytes, nullptr, &error);
    const int count = document ? poppler_document_get_n_pages(document) : 0;
    auto pages = std::make_unique<PdfPages>();
    for (int number = 0; number < count; ++number) {
        PopplerPage* page = poppler_document_get_page(document, number);
        if (!page) continue;
        PdfPages::Page drawn;
        poppler_page_get_size(page, &drawn.width, &drawn.height);
        const cairo_rectangle_t extents{0, 0, drawn.width, drawn.height};
        drawn.recording = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, &extents);
        cairo_t* cairo = cairo_create(drawn.recording);
        poppler_page_render_for_printing(page, cairo);
        cairo_destroy(cairo);
        g_object_unref(page);
        pages->pages.push_back(drawn);
    }
    if (document) g_object_unref(document);
    if (pages->pages.empty()) pages.reset();
    g_task_return_pointer(
        task, pages.release(), +[](gpointer drawn) { delete static_cast<PdfPages*>(drawn); });
}

struct PdfOpening {
    Context& context;
    std::function<void(std::unique_ptr<platform::PrintOperation>)> done;
};

void onDocumentOpened(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<PdfOpening> opening(static_cast<PdfOpening*>(data));
    std::unique_ptr<PdfPages> document(static_cast<PdfPages*>(g_task_propagate_pointer(G_TASK(result), nullptr)));
    if (!document) {
        opening->done(nullptr);
        return;
    }
    opening->done(std::make_unique<PdfPrintOperation>(opening->context, std::move(document)));
}

}  // namespace

void PopplerPrinting::openPdf(std::vector<std::uint8_t> bytes,
                              std::function<void(std::unique_ptr<platform::PrintOperation>)> done) {
    auto* data = new std::vector<std::uint8_t>(std::move(bytes));
    GBytes* document = g_bytes_new_with_free_func(
        data->data(), data->size(), +[](gpointer owned) { delete static_cast<std::vector<std::uint8_t>*>(owned); },
        data);
    GTask* task = g_task_new(nullptr, nullptr, onDocumentOpened, new PdfOpening{context_, std::move(done)});
    g_task_set_task_data(task, document, reinterpret_cast<GDestroyNotify>(g_bytes_unref));
    g_task_run_in_thread(task, openDocument);
    g_object_unref(task);
}

}  // namespace gtk
