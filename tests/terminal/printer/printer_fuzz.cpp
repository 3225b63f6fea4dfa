// Any byte stream in controller mode, in either printing mode and with failing printers: no crash, and the
// controller's counters stay in range.
#include <cstdint>
#include <cstdlib>

#include "recording_printer.h"
#include "terminal/printer/printer_controller.h"

using namespace printing;
using namespace printing::testing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t mode = data[0];
    event_log log;
    recording_ui ui;
    recording_spooler spooler(log);
    spooler.has_default = mode & 1;
    spooler.doc_ok = mode & 2;
    recording_pages pages(log);
    pages.has_default = mode & 4;
    pages.page_height = 30 + (mode >> 4) * 7;  // tiny pages: page breaks are frequent
    fixed_settings settings;
    fake_screen screen;
    screen.cols = (mode & 8) ? 132 : 80;
    {
        printer_controller pc(settings, spooler, pages, ui);
        for (std::size_t i = 1; i < size; ++i) {
            // 0xFE switches the printing mode, 0xFD asks for a screen print; everything else is controller data.
            if (data[i] == 0xFE) {
                settings.raw = !settings.raw;
                continue;
            }
            if (data[i] == 0xFD) {
                pc.print_screen(screen);
                continue;
            }
            pc.feed(data[i], screen);
            if (pc.escape_state() < 0 || pc.escape_state() > 3) std::abort();
            if (pc.line_length() < 0 || pc.line_length() > printer_controller::kMaxLineLength) std::abort();
            if (pc.line_index() < 0) std::abort();
            if (log.events.size() > 100000) log.events.clear();
        }
    }
    // The bound is in characters: one byte of the code page can take up to three bytes of UTF-8 text.
    for (const auto& l : pages.lines) {
        int chars = 0;
        for (char b : l.text) chars += (static_cast<std::uint8_t>(b) & 0xC0) != 0x80;
        if (chars > printer_controller::kMaxLineLength) std::abort();
    }
    return 0;
}
