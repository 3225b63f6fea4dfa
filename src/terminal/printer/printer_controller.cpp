#include "terminal/printer/printer_controller.h"

#include <algorithm>
#include <cstdlib>

#include "config/ui_services.h"
#include "terminal/charset.h"

namespace printing {

namespace {
constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kCsi = 0x9B;
}  // namespace

int mul_div(int a, int b, int c) {
    if (c == 0) return 0;
    long long p = static_cast<long long>(a) * b;
    long long q = c;
    bool negative = (p < 0) != (q < 0);
    p = std::llabs(p);
    q = std::llabs(q);
    long long r = (p + q / 2) / q;
    return static_cast<int>(negative ? -r : r);
}

void append_row_utf8(std::string& out, const printer_screen& screen, int row, int cols) {
    for (int c = 1; c <= cols; ++c) {
        const std::uint32_t cell = screen.cell(row, c);
        if (!wide_tail(cell, c > 1 ? screen.cell(row, c - 1) : 0)) append_utf8(out, cell_code(cell));
    }
}

int printer_font_height(int pfontsize, int logpixels_y) {
    // The stored size is the font dialog's (negative) height; taken as points and made a positive cell height.
    return -mul_div(pfontsize, logpixels_y, 72) / 2;
}

printer_controller::printer_controller(const printer_settings& settings, raw_spooler& spooler, page_printer& pages,
                                       ui_services& ui)
    : settings_(settings), spooler_(spooler), pages_(pages), ui_(ui) {
    line_.fill(' ');
}

printer_controller::~printer_controller() {
    // Whatever is still spooled at exit would otherwise never print.
    if (raw_open_) {
        spooler_.end_document();
        spooler_.close();
    }
    if (device_ && !new_document_needed_) device_->end_document();
}

void printer_controller::hold(std::uint8_t c) {
    if (held_count_ < static_cast<int>(held_.size())) held_[held_count_++] = c;
}

void printer_controller::release_held_raw() {
    int n = held_count_;
    held_count_ = 0;
    escape_state_ = 0;
    for (int i = 0; i < n; ++i) raw_write(held_[i]);
}

void printer_controller::release_held_text() {
    int n = held_count_;
    held_count_ = 0;
    escape_state_ = 0;
    for (int i = 0; i < n; ++i) store(held_[i]);
}

bool printer_controller::feed(std::uint8_t c, const printer_screen& screen) {
    const bool raw = settings_.rawprint();

    // Start of a possible end sequence. A sequence already pending is not the end sequence: pass it on first.
    if (c == kEsc || c == kCsi) {
        if (held_count_ > 0) raw ? release_held_raw() : release_held_text();
        hold(c);
        escape_state_ = c == kEsc ? 1 : 2;
        return false;
    }
    if (c == '[' && escape_state_ == 1) {
        hold(c);
        escape_state_ = 2;
        return false;
    }
    if (c == '4' && escape_state_ == 2) {
        hold(c);
        escape_state_ = 3;
        return false;
    }
    if (c == 'i' && escape_state_ == 3) {
        held_count_ = 0;
        escape_state_ = 0;
        if (!raw) {
            if (length_ > 0) print_pending_line(false);
            clear_line();
        }
        end_print_job();
        return true;
    }

    if (raw) {
        release_held_raw();
        raw_write(c);
        return false;
    }

    switch (c) {
    case 0x00:
    case 0x0D: return false;
    case 0x08:
        if (length_ > 0) --length_;
        return false;
    case 0x09: tab(screen); return false;
    case 0x0A: print_pending_line(true); return false;
    case 0x0C:
        if (length_ > 0) print_pending_line(false);
        clear_line();
        end_print_job();
        held_count_ = 0;
        escape_state_ = 0;
        return false;
    default: break;
    }
    if (c < 0x20) return false;
    release_held_text();
    store(c);
    return false;
}

void printer_controller::raw_write(std::uint8_t c) {
    if (!raw_open_) {
        std::string name;
        // A failed look-up holds for the rest of the job: the spooler is asked again with the next job only.
        if (no_printer_in_job_ || !spooler_.default_printer(name)) {
            no_printer_in_job_ = true;
            ui_.message_box(kNoDefaultPrinter);
            return;
        }
        if (!spooler_.open(name)) return;
        if (!spooler_.start_document(kRawDocumentName)) {
            spooler_.close();
            ui_.message_box(kRawRefused);
            return;
        }
        if (!spooler_.start_page()) {
            spooler_.end_document();
            spooler_.close();
            return;
        }
        raw_open_ = true;
    }
    spooler_.write(&c, 1);
}

void printer_controller::store(std::uint8_t c) {
    line_[length_] = static_cast<char>(c);
    if (length_ < kMaxLineLength) ++length_;
}

void printer_controller::clear_line() {
    line_.fill(' ');
    length_ = 0;
}

void printer_controller::print_pending_line(bool even_if_empty) {
    if (length_ > 0 || even_if_empty) line_printer(line_.data(), length_);
    clear_line();
}

void printer_controller::tab(const printer_screen& screen) {
    // The pending length is the column the next byte lands in, less one.
    const int cols = screen.columns();
    int col = length_ + 1;
    if (col > cols) return;  // past the screen width there are no tab stops to move to
    if (col < cols) ++col;
    while (!screen.tab_stop(col) && col < cols) ++col;
    if (!screen.tab_stop(col)) --col;
    length_ = std::clamp(col - 1, 0, kMaxLineLength);
}

void printer_controller::line_printer(const char* text, int n) {
    const print_font font = settings_.font();
    text_.clear();
    append_bytes_as_utf8(text_, text, size_t(std::clamp(n, 0, kLineBufferSize)), font.utf8,
                         code_page_of_script(font.charset));
    print_text_line();
}

void printer_controller::print_text_line() {
    // A changed printer font takes effect with the next line: the device is made anew (an open document is
    // finished first, so nothing printed so far is lost).
    if (device_ && settings_.font() != device_font_) release_device();
    if (device_ && new_document_needed_) {
        if (!device_->begin_document()) return;
        new_document_needed_ = false;
    }
    if (!device_) {
        // Looking for a default printer is a spooler round trip: with none, the job's lines are dropped cheaply.
        if (no_printer_in_job_) return;
        device_font_ = settings_.font();
        device_ = pages_.create_default(device_font_);
        if (!device_) {
            no_printer_in_job_ = true;
            return;
        }
        line_height_ = std::max(1, device_->line_height());
        lines_per_page_ = device_->page_height() / line_height_ - 2;
        line_index_ = 0;
        if (!device_->begin_document()) return;
        new_document_needed_ = false;
    }
    device_->text_out(kTextLeft, (line_index_ + 1) * line_height_, text_);
    if (line_index_ >= lines_per_page_) {
        device_->new_page();
        line_index_ = 0;
    } else {
        ++line_index_;
    }
}

void printer_controller::end_print_job() {
    no_printer_in_job_ = false;
    if (raw_open_) {
        spooler_.end_document();
        spooler_.close();
        raw_open_ = false;
    }
    if (device_ && !new_document_needed_) {
        device_->end_document();
        line_index_ = 0;
        new_document_needed_ = true;
    }
}

void printer_controller::print_screen(const printer_screen& screen) {
    const int cols = std::clamp(screen.columns(), 1, kMaxColumns);
    std::array<char, kMaxColumns> row{};
    const print_font font = settings_.font();
    for (int r = 1; r <= kScreenRows; ++r) {
        if (font.utf8) {  // cells hold code points: the row goes out as their characters
            text_.clear();
            append_row_utf8(text_, screen, r, cols);
            print_text_line();
            continue;
        }
        for (int c = 1; c <= cols; ++c) row[c - 1] = static_cast<char>(screen.cell(r, c) & 0xFF);
        line_printer(row.data(), cols);
    }
    end_print_job();
}

void printer_controller::release_device() {
    no_printer_in_job_ = false;
    if (device_ && !new_document_needed_) device_->end_document();
    device_.reset();
    new_document_needed_ = true;
    line_index_ = 0;
    lines_per_page_ = 999;
}

}  // namespace printing
