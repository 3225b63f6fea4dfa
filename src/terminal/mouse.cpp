#include "terminal/mouse.h"

#include <cstdio>

namespace {

// One value of the default and UTF-8 encodings: value + 32 as a byte, or as UTF-8 (up to 2 bytes).
bool put_coded(char* out, size_t& n, int v, bool utf8) {
    const int c = v + 32;
    if (c < 0x80 || (!utf8 && c <= 0xFF)) {
        out[n++] = char(c);
        return true;
    }
    if (!utf8 || c > 0x7FF) return false;
    out[n++] = char(0xC0 | (c >> 6));
    out[n++] = char(0x80 | (c & 0x3F));
    return true;
}

}  // namespace

size_t encode_mouse(mouse_tracking tracking, mouse_encoding encoding, const mouse_event& ev,
                    char (&out)[mouse_report_capacity]) {
    if (tracking == mouse_tracking::off) return 0;
    const bool wheel = ev.kind == mouse_event::wheel_up || ev.kind == mouse_event::wheel_down;
    switch (ev.kind) {
    case mouse_event::release:
        if (tracking == mouse_tracking::x10) return 0;
        break;
    case mouse_event::motion:
        if (tracking == mouse_tracking::any) break;
        if (tracking != mouse_tracking::button || ev.button > 2) return 0;
        break;
    default: break;
    }
    if (tracking == mouse_tracking::x10 && wheel) return 0;
    if (!wheel && (ev.button < 0 || ev.button > 3)) return 0;

    int code = wheel ? 64 + (ev.kind == mouse_event::wheel_down) : ev.button;
    if (ev.kind == mouse_event::motion) code = 32 + (ev.button > 2 ? 3 : ev.button);
    // Only SGR tells which button went up; the others say "released" (3).
    if (ev.kind == mouse_event::release && encoding != mouse_encoding::sgr) code = 3;
    if (tracking != mouse_tracking::x10) code |= (ev.shift ? 4 : 0) | (ev.alt ? 8 : 0) | (ev.ctrl ? 16 : 0);
    if (ev.row < 1 || ev.column < 1) return 0;

    size_t n = 0;
    switch (encoding) {
    case mouse_encoding::sgr:
        n = size_t(std::snprintf(out, sizeof out, "\x1b[<%d;%d;%d%c", code, ev.column, ev.row,
                                 ev.kind == mouse_event::release ? 'm' : 'M'));
        break;
    case mouse_encoding::urxvt:
        n = size_t(std::snprintf(out, sizeof out, "\x1b[%d;%d;%dM", code + 32, ev.column, ev.row));
        break;
    default: {
        const bool utf8 = encoding == mouse_encoding::utf8;
        out[n++] = '\x1b';
        out[n++] = '[';
        out[n++] = 'M';
        if (!put_coded(out, n, code, false) || !put_coded(out, n, ev.column, utf8) || !put_coded(out, n, ev.row, utf8))
            return 0;
        break;
    }
    }
    return n < sizeof out ? n : 0;
}
