#pragma once
// Pieces of screen rendering that do not need a widget: font fitting arithmetic, colours and the 256-colour palette,
// run splitting,
// graphics-set characters, the cursor shape and the status pane texts.
#include <QColor>
#include <QString>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "terminal/vt.h"

#include "terminal/sgr.h"  // xterm_colour

// Windows-style 0x00BBGGRR colour value.
inline QColor color_from_bgr(int v) { return QColor(v & 0xff, (v >> 8) & 0xff, (v >> 16) & 0xff); }

struct cell_metrics {
    int width = 0;   // average character width
    int height = 0;  // height plus external leading
};

struct fit_result {
    int font_height = 1;  // best candidate height (1 when even 2 does not fit)
    int cell_width = 4;
    int cell_height = 4;
    int char_extra = 0;
    int line_gap = 0;
};

// Picks the largest font height h (2, 3, ...) whose 24 x columns grid fits into the client area less the
// reserved width/height, then spreads the surplus as character extra and line gap. `measure(h)` gives the
// metrics of the font at height h; a measure with width or height 0 means the font could not be made.
fit_result fit_grid(int client_w, int client_h, int reserved_w, int reserved_h, int columns,
                    const std::function<cell_metrics(int)>& measure, int max_height = 400);

// Colours of one run of cells.
struct run_colors {
    int paper;
    int ink;
};
struct cell_palette {
    int fg, bg, bold, cursor;
    const std::uint32_t* indexed = nullptr;  // the 256 colours as 0xRRGGBB (a host may change them); null: xterm's
};
// `selected` is the selection highlight, which shows like the reverse attribute.
run_colors colors_for(std::uint32_t cell, bool selected, bool reverse_screen, bool blink_phase, const cell_palette& p);

constexpr int bgr_of_rgb(std::uint32_t rgb) {
    return int(((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF));
}
// The same rules with a cell's own colours and further attributes (screen.h: colour words, extra_* bits), results
// in the palette's 0x00BBGGRR form. Default colours are the user's (bold in the default colour is the bold colour);
// with `bold_bright`, bold in palette colours 0-7 shows as 8-15. Reverse and selection swap; then dim mixes the
// ink halfway to the paper and invisible paints it as the paper. Plain colours give exactly what the other overload
// gives.
run_colors colors_for(std::uint32_t cell, std::uint32_t fg, std::uint32_t bg, std::uint16_t extra, bool selected,
                      bool reverse_screen, bool blink_phase, const cell_palette& p, bool bold_bright);

// Graphics-set bytes shown as characters of the font (degree, plus/minus, less/greater or equal, pi, not equal,
// pound, centred dot); 0 for bytes drawn as shapes (box_glyphs.h).
char16_t graphics_text_char(std::uint8_t c);

// The cursor as painted: type 0 full block, 1 half block, 2 underline, 3 bar. In the xterm emulation a shape set
// by the host (DECSCUSR) replaces the user's type and blink setting; elsewhere the user's settings hold.
struct cursor_look {
    int type;
    bool blink;
};
cursor_look cursor_look_for(int user_type, bool user_blink, bool host_set, cursor_shape host_shape, bool host_blink);

// Status bar panes.
// The negotiated SSH-2 cipher, when there is one, follows the protocol name.
QString security_pane(bool connected, bool ssh_id_sent, int ssh1_state, bool ssh2_keys_active,
                      std::string_view ssh2_cipher = {}, bool post_quantum = false);
// The security pane's tooltip: the SSH-2 key exchange and whether it holds against a quantum computer that records
// the session now; empty without one.
QString security_tip(bool connected, bool ssh2_keys_active, std::string_view kex, bool post_quantum);
QString position_pane(int row, int column);
QString ctrl_pane(bool held);
QString shift_pane(bool held);
// The message pane: how to open a session until the first attempt, then "Not connected"; while an attempt is set
// up, the host and how to give up waiting; empty while a session runs.
QString connection_pane(bool busy, bool attempted, bool setting_up = false, std::string_view host = {});
