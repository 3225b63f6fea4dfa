#include "terminal/sgr.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

void set_bit(uint16_t& word, uint32_t bit, bool on) { word = on ? uint16_t(word | bit) : uint16_t(word & ~bit); }

// Exactly what the VT220 did before colours existed: a parameter with sub-parameters counts by its first value,
// and 38/48 followed by 5 or 2 skip two or four parameters.
void apply_vt220(const csi_params& p, cell_pen& pen, int from) {
    for (int i = from; i < p.count; i = p.group_end(i)) {
        const int v = p.value[i];
        if ((v == 38 || v == 48) && p.group_end(i) == i + 1) {
            const int selector = p.get(p.group_end(i));
            const int skip = selector == 5 ? 2 : selector == 2 ? 4 : 0;
            for (int k = 0; k < skip && i < p.count; ++k) i = p.group_end(i);
            continue;
        }
        switch (v) {
        case 0:
        case 40: pen = cell_pen{}; break;
        case 1: set_bit(pen.attr, cell_bold, true); break;
        case 4: set_bit(pen.attr, cell_underline, true); break;
        case 5: set_bit(pen.attr, cell_blink, true); break;
        case 7: set_bit(pen.attr, cell_reverse, true); break;
        case 22: set_bit(pen.attr, cell_bold, false); break;
        case 24: set_bit(pen.attr, cell_underline, false); break;
        case 25: set_bit(pen.attr, cell_blink, false); break;
        case 27: set_bit(pen.attr, cell_reverse, false); break;
        default: break;
        }
    }
}

// A value that must be 0..255; an empty or missing field fails.
bool byte_value(const csi_params& p, int i, int& out) {
    if (p.is_empty(i) || p.value[i] > 255) return false;
    out = p.value[i];
    return true;
}

// 38 or 48 at entry i as xterm reads it: 38:5:N, 38:2:R:G:B, 38:2:CS:R:G:B (a colour space is there when more than
// four sub-parameters follow 38), 38;5:N and 38;2:R:G:B (the same one parameter later), 38;5;N and 38;2;R;G;B.
// The colour is set only when every value is there and in range; either way the parameters the form takes are
// consumed and the ones after them still apply. Returns the entry after them.
int extended_colour(const csi_params& p, int i, uint32_t& colour) {
    int code = -1, first = 0, next = p.group_end(i);
    bool grouped = true;
    if (next > i + 1) {
        code = p.is_empty(i + 1) ? -1 : p.value[i + 1];
        first = i + 2 + (next - i - 1 > 4 ? 1 : 0);
    } else if (next < p.count) {
        const int j = next;
        next = p.group_end(j);
        code = p.is_empty(j) ? -1 : p.value[j];
        if (next > j + 1) {
            first = j + 1 + (next - j - 1 > 3 ? 1 : 0);
        } else {
            grouped = false;
            first = next;
            const int need = code == 5 ? 1 : code == 2 ? 3 : 0;
            for (int k = 0; k < need && next < p.count; ++k) next = p.group_end(next);
        }
    }
    // Where the values live: consecutive entries of one group, or the first entries of consecutive parameters;
    // p.count (read as empty) when the form ends before.
    auto at = [&](int n) {
        if (grouped) return first + n < next ? first + n : p.count;
        int e = first;
        for (int k = 0; k < n && e < p.count; ++k) e = p.group_end(e);
        return e < next ? e : p.count;
    };
    int r = 0, g = 0, b = 0;
    if (code == 5) {
        if (byte_value(p, at(0), r)) colour = colour_index(r);
    } else if (code == 2) {
        if (byte_value(p, at(0), r) && byte_value(p, at(1), g) && byte_value(p, at(2), b)) colour = colour_rgb(r, g, b);
    }
    return next;
}

void apply_xterm(const csi_params& p, cell_pen& pen, int from) {
    // Not graphic rendition: DECSCA's protection and the character set stay through SGR 0.
    constexpr uint16_t kept = cell_protected | cell_graphics;
    for (int i = from; i < p.count;) {
        const int v = p.value[i];
        if (v == 38 || v == 48) {
            i = extended_colour(p, i, v == 38 ? pen.fg : pen.bg);
            continue;
        }
        const int at = i;
        const bool subs = p.group_end(i) > i + 1;
        i = p.group_end(i);
        if (subs && v != 4) continue;  // sub-parameters mean nothing to the other values: the parameter is ignored
        switch (v) {
        case 0: {
            const uint16_t keep = pen.attr & kept;
            pen = cell_pen{};
            pen.attr = keep;
            break;
        }
        case 1: set_bit(pen.attr, cell_bold, true); break;
        case 2: set_bit(pen.extra, extra_dim, true); break;
        case 3: set_bit(pen.extra, extra_italic, true); break;
        case 4: {
            // 4:0 none, 4:1 single, 4:2 double; curly, dotted and dashed (4:3..4:5) are drawn single.
            const int style = subs ? p.value[at + 1] : 1;
            if (style > 5) break;
            set_bit(pen.attr, cell_underline, style == 1 || style >= 3);
            set_bit(pen.extra, extra_double_underline, style == 2);
            break;
        }
        case 5: set_bit(pen.attr, cell_blink, true); break;
        case 7: set_bit(pen.attr, cell_reverse, true); break;
        case 8: set_bit(pen.extra, extra_invisible, true); break;
        case 9: set_bit(pen.extra, extra_strike, true); break;
        case 21:
            set_bit(pen.attr, cell_underline, false);
            set_bit(pen.extra, extra_double_underline, true);
            break;
        case 22:
            set_bit(pen.attr, cell_bold, false);
            set_bit(pen.extra, extra_dim, false);
            break;
        case 23: set_bit(pen.extra, extra_italic, false); break;
        case 24:
            set_bit(pen.attr, cell_underline, false);
            set_bit(pen.extra, extra_double_underline, false);
            break;
        case 25: set_bit(pen.attr, cell_blink, false); break;
        case 27: set_bit(pen.attr, cell_reverse, false); break;
        case 28: set_bit(pen.extra, extra_invisible, false); break;
        case 29: set_bit(pen.extra, extra_strike, false); break;
        case 39: pen.fg = colour_default(); break;
        case 49: pen.bg = colour_default(); break;
        case 53: set_bit(pen.extra, extra_overline, true); break;
        case 55: set_bit(pen.extra, extra_overline, false); break;
        default:
            if (v >= 30 && v <= 37)
                pen.fg = colour_index(v - 30);
            else if (v >= 40 && v <= 47)
                pen.bg = colour_index(v - 40);
            else if (v >= 90 && v <= 97)
                pen.fg = colour_index(v - 90 + 8);
            else if (v >= 100 && v <= 107)
                pen.bg = colour_index(v - 100 + 8);
            break;
        }
    }
}

// What a parameter below 128 does to the pen on its own, with no sub-parameters: each field becomes
// (field & keep) | set. Read off the profile's own function with pens of all zeros and all ones, and checked against
// two more; a value whose effect has another form (38 and 48 take the parameters after them) is no step.
struct sgr_step {
    cell_pen keep, set;
    bool step = false;
};
using sgr_steps = std::array<sgr_step, 128>;

cell_pen pen_filled(uint32_t bits) {
    cell_pen p;
    p.fg = p.bg = bits;
    p.extra = p.attr = uint16_t(bits);
    return p;
}

template <class Apply>
sgr_steps steps_of(Apply apply) {
    sgr_steps steps;
    for (int v = 0; v < int(steps.size()); ++v) {
        csi_params p;
        p.value[0] = v;
        p.count = 1;
        auto after = [&](uint32_t bits) {
            cell_pen pen = pen_filled(bits);
            apply(p, pen, 0);
            return pen;
        };
        sgr_step& s = steps[size_t(v)];
        s.set = after(0);
        const cell_pen ones = after(0xFFFFFFFF);
        s.keep.fg = ones.fg & ~s.set.fg;
        s.keep.bg = ones.bg & ~s.set.bg;
        s.keep.extra = uint16_t(ones.extra & ~s.set.extra);
        s.keep.attr = uint16_t(ones.attr & ~s.set.attr);
        s.step = v != 38 && v != 48;
        for (const uint32_t bits : {0x5A5A5A5Au, 0xA5A5A5A5u}) {
            cell_pen mixed = pen_filled(bits);
            cell_pen expected = s.set;
            expected.fg |= mixed.fg & s.keep.fg;
            expected.bg |= mixed.bg & s.keep.bg;
            expected.extra |= uint16_t(mixed.extra & s.keep.extra);
            expected.attr |= uint16_t(mixed.attr & s.keep.attr);
            s.step = s.step && after(bits) == expected;
        }
    }
    return steps;
}

const sgr_steps vt220_steps = steps_of(apply_vt220);
const sgr_steps xterm_steps = steps_of(apply_xterm);

}  // namespace

void parse_csi_params(const char* text, int len, csi_params& q) {
    csi_param_builder b(q);
    for (int i = 0; i < len; ++i) {
        const char ch = text[i];
        if (ch == ';' || ch == ':')
            b.separate(ch);
        else if (ch >= '0' && ch <= '9')
            b.digit(ch);
    }
    b.finish();
}

// Parameters without sub-parameters go by their steps (most sequences have nothing else) up to the first that has
// none; the profile's function does the rest.
void apply_sgr(const csi_params& params, sgr_profile profile, cell_pen& pen) {
    const sgr_steps& steps = profile == sgr_profile::vt220 ? vt220_steps : xterm_steps;
    int i = 0;
    if (params.sub == 0) {
        uint32_t fg = pen.fg, bg = pen.bg;
        uint16_t extra = pen.extra, attr = pen.attr;
        for (; i < params.count; ++i) {
            const unsigned v = unsigned(params.value[i]);
            if (v >= steps.size() || !steps[v].step) break;
            const sgr_step& s = steps[v];
            fg = (fg & s.keep.fg) | s.set.fg;
            bg = (bg & s.keep.bg) | s.set.bg;
            extra = uint16_t((extra & s.keep.extra) | s.set.extra);
            attr = uint16_t((attr & s.keep.attr) | s.set.attr);
        }
        pen.fg = fg;
        pen.bg = bg;
        pen.extra = extra;
        pen.attr = attr;
    }
    if (i == params.count) return;
    if (profile == sgr_profile::vt220)
        apply_vt220(params, pen, i);
    else
        apply_xterm(params, pen, i);
}

uint32_t xterm_colour(int index) {
    static constexpr uint32_t system[16] = {0x000000, 0xcd0000, 0x00cd00, 0xcdcd00, 0x0000ee, 0xcd00cd,
                                            0x00cdcd, 0xe5e5e5, 0x7f7f7f, 0xff0000, 0x00ff00, 0xffff00,
                                            0x5c5cff, 0xff00ff, 0x00ffff, 0xffffff};
    static constexpr uint32_t level[6] = {0, 95, 135, 175, 215, 255};
    index &= 0xFF;
    if (index < 16) return system[index];
    if (index >= 232) {
        const uint32_t v = 8 + 10 * uint32_t(index - 232);
        return v << 16 | v << 8 | v;
    }
    const int i = index - 16;
    return level[i / 36] << 16 | level[i / 6 % 6] << 8 | level[i % 6];
}
