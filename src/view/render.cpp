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

bool line_glyph(std::uint8_t c, const glyph_geometry& g, std::vector<QLine>& out) {
    const int L = g.L, T = g.T, R = g.R, B = g.B, X = g.X, Y = g.Y;
    auto line = [&](int x1, int y1, int x2, int y2) { out.emplace_back(x1, y1, x2, y2); };
    switch (c) {
    case 'j':
        line(L, Y, X, Y);
        line(X, Y, X, T);
        break;
    case 'k':
        line(L, Y, X, Y);
        line(X, Y, X, B);
        break;
    case 'l':
        line(X, Y, R, Y);
        line(X, Y, X, B);
        break;
    case 'm':
        line(X, T, X, Y);
        line(X, Y, R, Y);
        break;
    case 'n':
        line(L, Y, R, Y);
        line(X, T, X, B);
        break;
    case 'o': line(L, T, R, T); break;
    case 'p':
    case 'q':
    case 'r': line(L, Y, R, Y); break;
    case 's': line(L, B - 2, R, B - 2); break;
    case 't':
        line(X, T, X, B);
        line(X, Y, R, Y);
        break;
    case 'u':
        line(X, T, X, B);
        line(X, Y, L, Y);
        break;
    case 'v':
        line(L, Y, R, Y);
        line(X, Y, X, T);
        break;
    case 'w':
        line(L, Y, R, Y);
        line(X, Y, X, B);
        break;
    case 'x': line(X, T, X, B); break;
    case 'a':
        for (int x = L; x < R; ++x) line(x, T, x, B);
        break;
    default: return false;
    }
    return true;
}

QString security_pane(bool connected, bool ssh_id_sent, int ssh1_state, bool ssh2_keys_active,
                      std::string_view ssh2_cipher) {
    if (ssh_id_sent && connected && ssh1_state >= 1) return QStringLiteral("Secure (SSH-1)");
    if (connected && ssh2_keys_active && !ssh2_cipher.empty())
        return QStringLiteral("Secure (SSH-2, %1)")
            .arg(QString::fromLatin1(ssh2_cipher.data(), qsizetype(ssh2_cipher.size())));
    if (connected && ssh2_keys_active) return QStringLiteral("Secure (SSH-2)");
    return QString(9, QLatin1Char(' '));
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
                     : QStringLiteral("File > Connect... opens a session. For today's hosts choose Settings > "
                                      "Termtype... > Today's hosts (xterm-256color, UTF-8).");
}
