#pragma once
// Recording stand-ins for the spooler, the page device and the message box: every call is logged in order.
#include <memory>
#include <string>
#include <vector>

#include "config/ui_services.h"
#include "terminal/printer/printer_controller.h"

namespace printing::testing {

struct event_log {
    std::vector<std::string> events;
    void add(std::string e) { events.push_back(std::move(e)); }
    int count(const std::string& prefix) const {
        int n = 0;
        for (const auto& e : events)
            if (e.rfind(prefix, 0) == 0) ++n;
        return n;
    }
};

struct recording_ui : ui_services {
    std::vector<std::string> messages;
    void message_box(std::string_view text) override { messages.emplace_back(text); }
    bool ask_yes_no(std::string_view) override { return true; }
};

struct recording_spooler : raw_spooler {
    explicit recording_spooler(event_log& log) : log_(log) {}
    bool has_default = true, open_ok = true, doc_ok = true, page_ok = true;
    std::string data;  // every byte written, across jobs
    bool default_printer(std::string& name) override {
        log_.add("raw:default");
        if (has_default) name = "testq";
        return has_default;
    }
    bool open(const std::string& name) override {
        log_.add("raw:open " + name);
        return open_ok;
    }
    bool start_document(std::string_view doc) override {
        log_.add("raw:start_doc " + std::string(doc));
        return doc_ok;
    }
    bool start_page() override {
        log_.add("raw:start_page");
        return page_ok;
    }
    void write(const std::uint8_t* b, std::size_t n) override {
        data.append(reinterpret_cast<const char*>(b), n);
        log_.add("raw:write " + std::to_string(n));
    }
    void end_document() override { log_.add("raw:end_doc"); }
    void close() override { log_.add("raw:close"); }

private:
    event_log& log_;
};

struct text_line {
    int x, y, page;
    std::string text;
};

struct segment {
    int x1, y1, x2, y2, width;
    bool operator==(const segment&) const = default;
};

struct recording_device : page_device {
    recording_device(event_log& log, std::vector<text_line>& lines, std::vector<segment>& segments, int lh, int ph,
                     int cw = 6)
        : log_(log), lines_(lines), segments_(segments), lh_(lh), ph_(ph), cw_(cw) {}
    int line_height() const override { return lh_; }
    int char_width() const override { return cw_; }
    int page_height() const override { return ph_; }
    bool begin_document() override {
        log_.add("doc:begin");
        ++page_;
        return true;
    }
    void new_page() override {
        log_.add("doc:new_page");
        ++page_;
    }
    void end_document() override { log_.add("doc:end"); }
    void text_out(int x, int y, std::string_view s) override {
        log_.add("doc:text");
        lines_.push_back({x, y, page_, std::string(s)});
    }
    void line(int x1, int y1, int x2, int y2, int w) override {
        log_.add("doc:line");
        segments_.push_back({x1, y1, x2, y2, w});
    }

private:
    event_log& log_;
    std::vector<text_line>& lines_;
    std::vector<segment>& segments_;
    int lh_, ph_, cw_;
    int page_ = 0;
};

struct recording_pages : page_printer {
    explicit recording_pages(event_log& log) : log_(log) {}
    bool has_default = true;
    int line_height = 10;
    int page_height = 1000;
    std::vector<text_line> lines;
    std::vector<segment> segments;
    std::vector<print_font> fonts;  // font of every device made
    std::unique_ptr<page_device> create_default(const print_font& font) override {
        log_.add("dev:create");
        if (!has_default) return nullptr;
        fonts.push_back(font);
        return std::make_unique<recording_device>(log_, lines, segments, line_height, page_height);
    }

private:
    event_log& log_;
};

struct fixed_settings : printer_settings {
    bool raw = false;
    print_font f;
    bool rawprint() const override { return raw; }
    print_font font() const override { return f; }
};

// An 80-column screen with the default tab stops (9, 17, ...) and blank cells unless set.
struct fake_screen : printer_screen {
    int cols = 80;
    std::uint32_t cells[24][132];
    fake_screen() {
        for (auto& row : cells)
            for (auto& c : row) c = 0x20;
    }
    int columns() const override { return cols; }
    bool tab_stop(int column) const override { return column >= 9 && column <= 132 && (column - 1) % 8 == 0; }
    std::uint32_t cell(int row, int column) const override { return cells[row - 1][column - 1]; }
};

}  // namespace printing::testing
