#include "view/render.h"

#include "terminal/screen.h"

fit_result fit_grid(int client_w, int client_h, int reserved_w, int reserved_h, int columns,
                    const std::function<cell_metrics(int)>& measure, int max_height) {
    fit_result r;
    cell_metrics best{};
    for (int h = 2; h <= max_height; ++h) {
        cell_metrics m = measure(h);
        if (m.width <= 0 || m.height <= 0) break;
        if (columns * m.width + reserved_w <= client_w && screen_rows * m.height + reserved_h <= client_h) {
            r.font_height = h;
            best = m;
        } else {
            break;
        }
    }
    if (best.width <= 0) best = measure(r.font_height < 2 ? 2 : r.font_height);
    if (best.width <= 0) best = {4, 4};
    r.cell_width = best.width;
    r.cell_height = best.height;
    int spare_h = client_h - screen_rows * best.height - reserved_h;
    int spare_w = client_w - columns * best.width - reserved_w;
    r.line_gap = spare_h > 0 ? spare_h / screen_rows : 0;
    r.char_extra = spare_w > 0 ? spare_w / columns : 0;
    r.cell_height += r.line_gap;
    r.cell_width += r.char_extra;
    return r;
}

run_colors colors_for(std::uint32_t cell, bool selected, bool reverse_screen, bool blink_phase, const cell_palette& p) {
    run_colors c{reverse_screen ? p.fg : p.bg, reverse_screen ? p.bg : p.fg};
    if (cell & cell_bold) c.ink = p.bold;
    if ((cell & cell_blink) && blink_phase) c.ink = c.paper;
    if (bool(cell & cell_reverse) != selected) std::swap(c.ink, c.paper);
    return c;
}

namespace {
int resolve(std::uint32_t colour, int deflt, bool bright, const std::uint32_t* indexed) {
    switch (kind_of_colour(colour)) {
    case colour_kind::default_colour: return deflt;
    case colour_kind::indexed: {
        int i = index_of_colour(colour);
        if (bright && i < 8) i += 8;
        return bgr_of_rgb(indexed ? indexed[i] : xterm_colour(i));
    }
    case colour_kind::direct: return bgr_of_rgb(rgb_of_colour(colour));
    }
    return deflt;
}

int halfway(int a, int b) {
    int r = 0;
    for (int shift = 0; shift < 24; shift += 8) r |= ((((a >> shift) & 0xFF) + ((b >> shift) & 0xFF)) / 2) << shift;
    return r;
}
}  // namespace

run_colors colors_for(std::uint32_t cell, std::uint32_t fg, std::uint32_t bg, std::uint16_t extra, bool selected,
                      bool reverse_screen, bool blink_phase, const cell_palette& p, bool bold_bright) {
    const bool bold = cell & cell_bold;
    const int ink_default = bold ? p.bold : reverse_screen ? p.bg : p.fg;
    run_colors c{resolve(bg, reverse_screen ? p.fg : p.bg, false, p.indexed),
                 resolve(fg, ink_default, bold && bold_bright, p.indexed)};
    if ((cell & cell_blink) && blink_phase) c.ink = c.paper;
    if (bool(cell & cell_reverse) != selected) std::swap(c.ink, c.paper);
    // Dim and invisible act on the text as shown, so reversed dim text is dim and reversed hidden text a block.
    if (extra & extra_dim) c.ink = halfway(c.ink, c.paper);
    if (extra & extra_invisible) c.ink = c.paper;
    return c;
}

char16_t graphics_text_char(std::uint8_t c) {
    switch (c) {
    case 'f': return 0x00B0;
    case 'g': return 0x00B1;
    case 'y': return 0x2264;
    case 'z': return 0x2265;
    case '{': return 0x03C0;
    case '|': return 0x2260;
    case '}': return 0x00A3;
    case '~': return 0x00B7;
    default: return 0;
    }
}

cursor_look cursor_look_for(int user_type, bool user_blink, bool host_set, cursor_shape host_shape, bool host_blink) {
    if (!host_set) return {user_type, user_blink};
    switch (host_shape) {
    case cursor_shape::block: return {0, host_blink};
    case cursor_shape::underline: return {2, host_blink};
    case cursor_shape::bar: return {3, host_blink};
    }
    return {user_type, user_blink};
}

QString security_pane(bool connected, bool ssh_id_sent, int ssh1_state, bool ssh2_keys_active,
                      std::string_view ssh2_cipher, bool post_quantum) {
    if (ssh_id_sent && connected && ssh1_state >= 1) return QStringLiteral("Secure (SSH-1)");
    if (connected && ssh2_keys_active && !ssh2_cipher.empty())
        return QStringLiteral("Secure (SSH-2, %1%2)")
            .arg(QString::fromLatin1(ssh2_cipher.data(), qsizetype(ssh2_cipher.size())),
                 post_quantum ? QStringLiteral(", post-quantum") : QString());
    if (connected && ssh2_keys_active) return QStringLiteral("Secure (SSH-2)");
    return QString(9, QLatin1Char(' '));
}

QString security_tip(bool connected, bool ssh2_keys_active, std::string_view kex, bool post_quantum) {
    if (!connected || !ssh2_keys_active || kex.empty()) return {};
    return QStringLiteral("Key exchange: %1 (%2)")
        .arg(QString::fromLatin1(kex.data(), qsizetype(kex.size())),
             post_quantum ? QStringLiteral("post-quantum") : QStringLiteral("not post-quantum"));
}

QString position_pane(int row, int column) { return QStringLiteral("Ln %1, Col %2").arg(row).arg(column); }
QString ctrl_pane(bool held) { return held ? QStringLiteral("CTRL") : QStringLiteral(" "); }
QString shift_pane(bool held) { return held ? QStringLiteral("SHIFT") : QStringLiteral(" "); }
QString connection_pane(bool busy, bool attempted, bool setting_up, std::string_view host) {
    if (busy && setting_up)
        return QStringLiteral("Connecting to %1... (Esc or File > Disconnect cancels)")
            .arg(QString::fromUtf8(host.data(), qsizetype(host.size())));
    if (busy) return {};
    return attempted ? QStringLiteral("Not connected")
                     : QStringLiteral("File > Connect... opens a session. Help: today's hosts, zoom.");
}
