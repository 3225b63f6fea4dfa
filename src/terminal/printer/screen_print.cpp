#include "terminal/printer/screen_print.h"

#include <algorithm>
#include <string_view>

#include "terminal/charset.h"

namespace printing {

namespace {

// Arms of the box-drawing characters j..x, from the cell centre to an edge.
enum : unsigned { arm_up = 1, arm_down = 2, arm_left = 4, arm_right = 8 };

unsigned box_arms(unsigned char c) {
    switch (c) {
    case 'j': return arm_up | arm_left;
    case 'k': return arm_down | arm_left;
    case 'l': return arm_down | arm_right;
    case 'm': return arm_up | arm_right;
    case 'n': return arm_up | arm_down | arm_left | arm_right;
    case 't': return arm_up | arm_down | arm_right;
    case 'u': return arm_up | arm_down | arm_left;
    case 'v': return arm_up | arm_left | arm_right;
    case 'w': return arm_down | arm_left | arm_right;
    case 'x': return arm_up | arm_down;
    default: return 0;
    }
}

void draw_graphic(page_device& d, unsigned char c, int left, int top, int right, int bottom) {
    const int cx = (left + right) / 2;
    const int cy = (top + bottom) / 2;
    const int w = kLineDrawWidth;
    switch (c) {
    case 'o': d.line(left, top, right, top, w); return;
    case 'p':
    case 'q':
    case 'r': d.line(left, cy, right, cy, w); return;
    case 's': d.line(left, bottom - 2, right, bottom - 2, w); return;
    default: break;
    }
    unsigned arms = box_arms(c);
    if (arms & arm_up) d.line(cx, cy, cx, top, w);
    if (arms & arm_down) d.line(cx, cy, cx, bottom, w);
    if (arms & arm_left) d.line(cx, cy, left, cy, w);
    if (arms & arm_right) d.line(cx, cy, right, cy, w);
}

}  // namespace

void draw_screen_page(const printer_screen& screen, page_device& device, page_margins margins, int charset, bool utf8) {
    const int page = code_page_of_script(charset);
    const int cols = std::clamp(screen.columns(), 1, printer_controller::kMaxColumns);
    const int lh = std::max(1, device.line_height());
    const int cw = std::max(1, device.char_width());
    for (int r = 1; r <= printer_controller::kScreenRows; ++r) {
        const int top = r * lh + margins.y;
        const int bottom = top + lh;
        for (int c = 1; c <= cols; ++c) {
            const std::uint32_t cell = screen.cell(r, c);
            const auto ch = static_cast<unsigned char>(cell & 0xFF);
            const int left = (c - 1) * cw + margins.x;
            if ((cell & cell_graphics) && ch >= 0x5F && ch <= 0x7E) {
                draw_graphic(device, ch, left, top, left + cw, bottom);
                continue;
            }
            const std::uint32_t u = cell_char(cell, utf8, page);
            if (u == ' ' || (cell & cell_wide_right)) continue;  // nothing to see
            char bytes[4];
            device.text_out(left, top, std::string_view(bytes, std::size_t(encode_utf8(u, bytes))));
        }
    }
}

}  // namespace printing
