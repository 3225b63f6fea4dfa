#pragma once
// SGR (CSI ... m): a control sequence's parameters, sub-parameters included, turned into a change of the pen.
// The VT220 profile keeps to what the VT220 shows: bold, underline, blink, reverse and their resets; 0 and 40 clear
// the whole pen; 38 and 48 are skipped with their colour parameters; everything else is ignored. The xterm profile
// applies the attributes and colours of xterm-256color.
#include <cstdint>

#include "terminal/screen.h"

// The longest parameter string a control sequence keeps is csi_limit - 1 characters (a longer one is abandoned and
// what follows it is text), so it never has more than csi_limit parameters. The xterm emulation keeps up to
// csi_limit_xterm - 1 characters (two direct colours and more); entries beyond csi_max_params are dropped.
constexpr int csi_limit = 20;
constexpr int csi_limit_xterm = 256;
constexpr int csi_max_params = 32;

// A control sequence's parameters as received, in order: each sub-parameter (after ':') follows the parameter it
// belongs to. An empty field reads 0 and is flagged.
struct csi_params {
    int value[csi_max_params] = {};
    int count = 0;
    uint32_t sub = 0;    // bit i: entry i came after a ':'
    uint32_t empty = 0;  // bit i: entry i had no digits

    int get(int i) const { return i < count ? value[i] : 0; }
    bool is_sub(int i) const { return i < count && ((sub >> i) & 1); }
    bool is_empty(int i) const { return i >= count || ((empty >> i) & 1); }
    // One past the last sub-parameter of the parameter at entry i.
    int group_end(int i) const {
        int j = i + 1;
        while (is_sub(j)) ++j;
        return j;
    }
};
static_assert(csi_max_params <= 32 && csi_limit <= csi_max_params, "the sub and empty masks hold one bit per entry");

// Builds csi_params a character at a time: digits, then separate(':' or ';'), and finish() after the last one.
struct csi_param_builder {
    csi_params& q;
    long long v = 0;
    bool digits = false;
    explicit csi_param_builder(csi_params& out) : q(out) { q.count = 0, q.sub = q.empty = 0; }
    void digit(char ch) {
        // Saturate instead of overflowing: the actions clamp anyway.
        v = v * 10 + (ch - '0');
        if (v > INT32_MAX) v = INT32_MAX;
        digits = true;
    }
    void separate(char ch) {
        finish();
        if (ch == ':' && q.count < csi_max_params) q.sub |= 1u << q.count;
    }
    void finish() {
        if (q.count < csi_max_params) {
            q.value[q.count] = int(v);
            if (!digits) q.empty |= 1u << q.count;
            ++q.count;
        }
        v = 0;
        digits = false;
    }
};

// The parameter string between the introducer (and any private marker) and the final: digits, ';' between
// parameters, ':' before a sub-parameter; any other character is skipped.
void parse_csi_params(const char* text, int len, csi_params& out);

enum class sgr_profile { vt220, xterm };

void apply_sgr(const csi_params& params, sgr_profile profile, cell_pen& pen);

// xterm's default 256 colours as 0xRRGGBB: the 16 system colours, the 6x6x6 cube, 24 greys.
uint32_t xterm_colour(int index);
