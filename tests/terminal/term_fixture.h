#pragma once
// A screen ring and an emulator fed the way the receive path feeds them, with a host that records its calls.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/vt.h"

struct recording_host : vt_host {
    int bells = 0;
    int columns_calls = 0;
    int last_columns = 0;
    int reverse = -1;
    int local_echo = -1;
    int updates = 0;
    std::vector<std::string> titles;
    void bell() override { ++bells; }
    void columns_changed(int c) override { ++columns_calls, last_columns = c; }
    void set_reverse_screen(bool on) override { reverse = on; }
    void set_local_echo(bool on) override { local_echo = on; }
    void update_changed() override { ++updates; }
    void set_title(std::string_view t) override { titles.emplace_back(t); }
    int own_title_restores = 0;
    void restore_own_title() override { ++own_title_restores; }
    int colour_changes = 0;
    std::vector<std::string> clipboard;
    void colours_changed() override { ++colour_changes; }
    void set_clipboard(std::string_view t) override { clipboard.emplace_back(t); }
    void pixel_size(int& aw, int& ah, int& cw, int& ch) const override { aw = 640, ah = 384, cw = 8, ch = 16; }
};

struct term_fixture {
    std::unique_ptr<screen_ring> ring = std::make_unique<screen_ring>();
    recording_host host;
    vt term{*ring, &host};
    std::string replies;
    int reply_count = 0;

    // One byte at a time through feed_byte, or in one write through feed(); replies are collected after the
    // byte that produced them either way.
    void feed(std::string_view bytes, bool one_write = false) {
        const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
        if (one_write) {
            size_t done = 0;
            while (done < bytes.size()) {
                done += term.feed(p + done, bytes.size() - done);
                collect();
            }
        } else {
            for (size_t i = 0; i < bytes.size(); ++i)
                if (term.feed_byte(p[i])) collect();
        }
    }
    void collect() {
        if (const char* r = term.take_reply()) {
            replies += r;
            ++reply_count;
        }
    }
    // The raw cell bytes of a row, trailing spaces removed.
    std::string text(int row) const {
        std::string s;
        for (int c = 1; c <= ring->columns(); ++c) s += char(ring->line(row).cell(c) & 0xFF);
        s.erase(s.find_last_not_of(' ') + 1);
        return s;
    }
    uint32_t cell(int row, int col) const { return ring->line(row).cell(col); }
    uint32_t attrs(int row, int col) const { return cell(row, col) & ~cell_char_mask; }
};
