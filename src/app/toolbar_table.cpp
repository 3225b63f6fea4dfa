#include "app/toolbar_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/commands.h"

namespace {
struct row_default {
    int command;
    const char* text;
    bool used;
    int position;
};

// A row added later goes last with the next position, so that a layout stored before it is still a permutation.
constexpr row_default defaults[toolbar_rows_count] = {
    {cmd::connect, "Open", true, 0},
    {cmd::disconnect, "Close", true, 1},
    {cmd::send_mail, "Mail", false, 26},
    {cmd::copy, "Copy", true, 2},
    {cmd::paste, "Paste", true, 3},
    {cmd::print_screen, "Print", true, 4},
    {cmd::about, "About", true, 5},
    {cmd::fkey(1), "F1", true, 6},
    {cmd::fkey(2), "F2", true, 7},
    {cmd::fkey(3), "F3", true, 8},
    {cmd::fkey(4), "F4", true, 9},
    {cmd::fkey(5), "F5", true, 10},
    {cmd::fkey(6), "F6", true, 11},
    {cmd::fkey(7), "F7", true, 12},
    {cmd::fkey(8), "F8", true, 13},
    {cmd::fkey(9), "F9", true, 14},
    {cmd::fkey(10), "F10", true, 15},
    {cmd::fkey(11), "F11", false, 16},
    {cmd::fkey(12), "F12", false, 17},
    {cmd::fkey(13), "F13", false, 18},
    {cmd::fkey(14), "F14", false, 19},
    {cmd::fkey(15), "F15", false, 20},
    {cmd::fkey(16), "F16", false, 21},
    {cmd::fkey(17), "F17", false, 22},
    {cmd::fkey(18), "F18", false, 23},
    {cmd::fkey(19), "F19", false, 24},
    {cmd::fkey(20), "F20", false, 25},
    {cmd::screen_font, "Font", false, 27},
    {cmd::help_topics, "Help", false, 28},
    {cmd::customize_toolbar, "Toolbar", false, 29},
    {cmd::file_transfer, "Transfer", false, 30},
};

void copy_text(char (&dst)[40], const char* src) { std::snprintf(dst, sizeof dst, "%s", src); }
}  // namespace

toolbar_table::toolbar_table() {
    for (int i = 0; i < toolbar_rows_count; ++i) {
        auto& r = rows_[i];
        r.command = defaults[i].command;
        r.default_used = defaults[i].used;
        r.default_position = defaults[i].position;
        copy_text(r.default_text, defaults[i].text);
        copy_text(r.text, defaults[i].text);
        r.used = r.default_used;
        r.position = r.default_position;
    }
}

int toolbar_table::row_of_command(int command) const {
    for (int i = 0; i < toolbar_rows_count; ++i)
        if (rows_[i].command == command) return i;
    return -1;
}

int toolbar_table::row_at_position(int position) const {
    for (int i = 0; i < toolbar_rows_count; ++i)
        if (rows_[i].position == position) return i;
    return -1;
}

int toolbar_table::used_count() const {
    return static_cast<int>(std::count_if(rows_.begin(), rows_.end(), [](auto& r) { return r.used; }));
}

void toolbar_table::reset_to_defaults() {
    for (auto& r : rows_) {
        r.used = r.default_used;
        r.position = r.default_position;
    }
}

void toolbar_table::set_text(int row, const std::string& text) {
    if (row < toolbar_first_custom_text_row || row >= toolbar_rows_count || text.empty()) return;
    copy_text(rows_[row].text, text.c_str());
}

bool toolbar_table::validate() {
    for (int p = 0; p < toolbar_rows_count; ++p) {
        int holder = row_at_position(p);
        if (holder < 0) {
            reset_to_defaults();
            return false;
        }
        if (rows_[holder].used) continue;
        for (auto& r : rows_) {
            if (r.used && r.position > rows_[holder].position) std::swap(r.position, rows_[holder].position);
        }
    }
    return true;
}

std::vector<int> toolbar_table::used_rows_in_order() const {
    std::vector<int> out;
    for (int i = 0; i < toolbar_rows_count; ++i)
        if (rows_[i].used) out.push_back(i);
    std::sort(out.begin(), out.end(), [&](int a, int b) { return rows_[a].position < rows_[b].position; });
    return out;
}

void toolbar_table::collect(const std::vector<int>& toolbar_commands) {
    for (auto& r : rows_) {
        r.used = false;
        r.position = 0;
    }
    int next = 0;
    for (int c : toolbar_commands) {
        int row = row_of_command(c);
        if (row < 0 || rows_[row].used) continue;  // separators, foreign buttons, duplicates take no place
        rows_[row].used = true;
        rows_[row].position = next++;
    }
    for (auto& r : rows_)
        if (!r.used) r.position = next++;
}
