#pragma once
// Printer controller mode and auxiliary printing: while the emulator is in controller mode every received byte
// comes here. Raw mode writes the bytes to the default printer as one spooler job; text mode collects lines and
// draws them with the printer font (the line printer). Print screen always uses the text path.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "terminal/printer/printer_device.h"
#include "terminal/screen.h"
#include "terminal/vt.h"

struct ui_services;

namespace printing {

// What the controller reads from the emulator and the screen.
struct printer_screen {
    virtual ~printer_screen() = default;
    virtual int columns() const = 0;                            // 80 or 132
    virtual bool tab_stop(int column) const = 0;                // column 1..132
    virtual std::uint32_t cell(int row, int column) const = 0;  // row 1..24, column 1..columns
};

// Cells 1..cols of a row whose cells hold code points (utf8), as UTF-8; a wide character once.
void append_row_utf8(std::string& out, const printer_screen& screen, int row, int cols);

// The emulator's screen, columns and tab stops seen as a printer_screen.
class ring_screen : public printer_screen {
public:
    explicit ring_screen(const screen_ring& ring, const vt* term = nullptr) : ring_(ring), term_(term) {}
    int columns() const override { return ring_.columns(); }
    bool tab_stop(int column) const override { return term_ && term_->tab_stop(column); }
    std::uint32_t cell(int row, int column) const override { return ring_.line(row).cell(column); }

private:
    const screen_ring& ring_;
    const vt* term_;
};

// Settings read by the controller. rawprint is asked for every byte, the font only when a device is made.
struct printer_settings {
    virtual ~printer_settings() = default;
    virtual bool rawprint() const = 0;
    virtual print_font font() const = 0;
};

inline constexpr const char* kNoDefaultPrinter = "No default printer defined";
inline constexpr const char* kRawRefused = "Cannot send raw data to the default printer";
inline constexpr const char* kRawDocumentName = "telnet";

class printer_controller : public printer_sink {
public:
    static constexpr int kLineBufferSize = 400;
    static constexpr int kMaxLineLength = 190;
    static constexpr int kScreenRows = 24;
    static constexpr int kMaxColumns = 132;
    static constexpr int kTextLeft = 10;

    printer_controller(const printer_settings& settings, raw_spooler& spooler, page_printer& pages, ui_services& ui);
    ~printer_controller() override;
    printer_controller(const printer_controller&) = delete;
    printer_controller& operator=(const printer_controller&) = delete;

    // printer_sink: what the emulator hands over.
    bool controller_byte(std::uint8_t c, const vt& term) override { return feed(c, ring_screen(term.ring(), &term)); }
    void print_screen(const screen_ring& ring) override { print_screen(ring_screen(ring)); }
    // Ends whatever job is open: the raw spooler job and the text document.
    void end_print_job() override;

    // One byte received in controller mode; `screen` gives the column count and tab stops. Returns true when it
    // completed ESC [ 4 i / 0x9B 4 i: the caller leaves controller mode (the job has been ended already).
    bool feed(std::uint8_t c, const printer_screen& screen);
    // Print the screen through the line printer and end the job (CSI i, CSI 0 i).
    void print_screen(const printer_screen& screen);
    // Drops the printer device (after the printer font changed) so that the next line makes it anew. The line
    // printer also notices a changed font by itself and does the same.
    void release_device();
    // Prints one line of n bytes on the text path.
    void line_printer(const char* text, int n);
    // A line already in UTF-8.
    void print_text_line();

    // Inspection for tests and the status display.
    int escape_state() const { return escape_state_; }
    int line_length() const { return length_; }
    bool raw_job_open() const { return raw_open_; }
    bool text_document_open() const { return device_ && !new_document_needed_; }
    bool has_device() const { return device_ != nullptr; }
    int line_index() const { return line_index_; }
    int lines_per_page() const { return lines_per_page_; }

private:
    void hold(std::uint8_t c);
    void release_held_raw();
    void release_held_text();
    void raw_write(std::uint8_t c);
    void store(std::uint8_t c);
    void print_pending_line(bool even_if_empty);
    void clear_line();
    void tab(const printer_screen& screen);

    const printer_settings& settings_;
    raw_spooler& spooler_;
    page_printer& pages_;
    ui_services& ui_;

    // Escape recognition: 0 nothing pending, 1 ESC, 2 ESC [ or 0x9B, 3 ESC [ 4 / 0x9B 4. The held bytes are kept
    // as received so that anything that was not the end sequence is passed on unchanged.
    int escape_state_ = 0;
    std::array<std::uint8_t, 3> held_{};
    int held_count_ = 0;

    std::array<char, kLineBufferSize> line_{};
    std::string text_;  // one printed line as UTF-8; capacity kept across lines
    int length_ = 0;

    bool raw_open_ = false;
    bool no_printer_in_job_ = false;  // the default-printer look-up failed since the last end_print_job

    std::unique_ptr<page_device> device_;
    print_font device_font_;
    bool new_document_needed_ = true;
    int line_index_ = 0;
    int lines_per_page_ = 999;
    int line_height_ = 1;
};

}  // namespace printing
