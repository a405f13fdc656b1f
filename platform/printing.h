// Printing the page or a PDF document.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace platform {

class Window;

// How a print operation ended.
struct PrintResult {
    bool success = false;       // printed (or saved) rather than cancelled or failed
    bool pageNotified = false;  // the engine already sent the page its own "afterprint" event
};

class PrintOperation {
public:
    virtual ~PrintOperation() = default;
    // Whether the print dialog is shown before printing.
    virtual void setShowsPrintPanel(bool shows) = 0;
    // Whether progress is shown while printing.
    virtual void setShowsProgressPanel(bool shows) = 0;
    // Runs the operation modal on `window` and returns at once; `done` runs once on the main
    // loop when it ends, printed or cancelled. The operation keeps itself alive until then.
    virtual void runModal(Window& window, std::function<void(PrintResult)> done) = 0;
};

class Printing {
public:
    virtual ~Printing() = default;
    // Opens the PDF document `bytes` away from the main loop, then hands `done`, on the main
    // loop, an operation printing it with every page scaled to fit the paper and rotated for
    // landscape pages, or nullptr when the bytes do not open as a PDF.
    virtual void openPdf(std::vector<std::uint8_t> bytes,
                         std::function<void(std::unique_ptr<PrintOperation>)> done) = 0;
};

}  // namespace platform
