// vtshot: feeds a byte stream (a raw file or a .vtrec recording) to a terminal view without a window and saves
// what the view draws as an image, so our drawing can be laid beside another terminal's for the same bytes.
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise; fonts come from fontconfig there too.
#include <QApplication>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QImage>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/ui_services.h"
#include "session/interfaces.h"
#include "terminal/screen_dump.h"
#include "terminal/vt.h"
#include "view/document.h"
#include "view/font_face.h"
#include "view/render.h"
#include "view/view.h"

namespace {

constexpr const char* kUsage =
    "usage: vtshot [--term NAME] [--utf8] [--font FAMILY] [--size PT] [--dpi N] [--upto N]\n"
    "              [--fg RRGGBB] [--bg RRGGBB] [--bold RRGGBB] [--no-cursor] [--raw-out FILE] [--text FILE]\n"
    "              IN.vtrec|RAW OUT.png\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

// Nothing is ever connected; the view only needs something to hand its sockets and messages to.
struct no_socket final : session_socket {
    connect_result connect(std::string_view, std::uint16_t) override { return connect_result::failed; }
    long read(std::uint8_t*, std::size_t) override { return 0; }
    long write(const std::uint8_t*, std::size_t n) override { return static_cast<long>(n); }
    void close() override {}
};
struct no_sockets final : socket_factory {
    std::unique_ptr<session_socket> create(socket_events&) override { return std::make_unique<no_socket>(); }
    std::optional<std::uint32_t> lookup_ipv4(std::string_view) override { return std::nullopt; }
};
struct quiet_ui final : ui_services {
    void message_box(std::string_view t) override { std::fprintf(stderr, "vtshot: %.*s\n", int(t.size()), t.data()); }
    bool ask_yes_no(std::string_view) override { return false; }
};

// The reads of a recording up to its pause mark `upto` (1-based; 0: all), or a raw file as one read.
bool load_reads(const std::string& path, int upto, std::vector<std::string>& reads, int& marks) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    const std::string d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    marks = 0;
    if (d.rfind("VTREC1\n", 0) != 0) {
        reads.push_back(d);
        return true;
    }
    for (size_t i = 7; i < d.size();) {
        const char kind = d[i++];
        if (kind == 'D') {
            if (i + 4 > d.size()) break;
            size_t n = 0;
            for (int k = 3; k >= 0; --k) n = n << 8 | uint8_t(d[i + size_t(k)]);
            reads.push_back(d.substr(i + 4, n));
            i += 4 + n;
        } else if (++marks == upto) {
            break;
        }
    }
    return true;
}

bool parse_rgb(const char* s, int& bgr) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(s[0] == '#' ? s + 1 : s, &end, 16);
    if (!end || *end || v > 0xFFFFFF) return false;
    bgr = int((v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16 & 0xFF));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string term = "xterm-256color", font = "DejaVu Sans Mono", raw_out, text_out;
    bool utf8 = false, cursor = true;
    double size_pt = 12, dpi = 96;
    int upto = 0, fg = 0x000000, bg = 0xFFFFFF, bold = 0x000000;
    const char* paths[2] = {nullptr, nullptr};
    int npaths = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--term" && more) {
            term = argv[++i];
        } else if (a == "--utf8") {
            utf8 = true;
        } else if (a == "--no-cursor") {
            cursor = false;
        } else if (a == "--font" && more) {
            font = argv[++i];
        } else if (a == "--size" && more) {
            size_pt = std::atof(argv[++i]);
        } else if (a == "--dpi" && more) {
            dpi = std::atof(argv[++i]);
        } else if (a == "--upto" && more) {
            upto = std::atoi(argv[++i]);
        } else if (a == "--raw-out" && more) {
            raw_out = argv[++i];
        } else if (a == "--text" && more) {
            text_out = argv[++i];
        } else if ((a == "--fg" || a == "--bg" || a == "--bold") && more) {
            if (!parse_rgb(argv[++i], a == "--fg" ? fg : a == "--bg" ? bg : bold)) return usage();
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs("  --size PT at --dpi N (96) sets the font's pixel size; the view is made exactly 80x24 cells\n"
                       "  --upto N: a recording's reads up to its Nth pause mark (0: all)\n"
                       "  --raw-out FILE: also write the bytes fed, for another terminal to show\n"
                       "  --text FILE: also write the screen's characters, a line per row\n"
                       "  OUT's suffix picks the format (.png, .ppm, .bmp)\n"
                       "  colours default to black on white with black bold, as xterm's defaults\n",
                       stdout);
            return 0;
        } else if (a.size() > 1 && a[0] == '-') {
            return usage();
        } else if (npaths < 2) {
            paths[npaths++] = argv[i];
        } else {
            return usage();
        }
    }
    if (npaths != 2 || size_pt <= 0 || dpi <= 0 || upto < 0 || face_name_size <= int(font.size())) return usage();

    std::vector<std::string> reads;
    int marks = 0;
    if (!load_reads(paths[0], upto, reads, marks)) {
        std::fprintf(stderr, "vtshot: cannot read %s\n", paths[0]);
        return 1;
    }
    if (upto > marks) {
        std::fprintf(stderr, "vtshot: %s has %d pause marks\n", paths[0], marks);
        return 1;
    }
    if (!raw_out.empty()) {
        std::ofstream out(raw_out, std::ios::binary);
        for (const auto& r : reads) out.write(r.data(), std::streamsize(r.size()));
        if (!out) {
            std::fprintf(stderr, "vtshot: cannot write %s\n", raw_out.c_str());
            return 1;
        }
    }

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    Settings& s = settings();
    s.termtype = term;
    s.utf8 = utf8 ? 1 : 0;
    s.color_fg = fg;
    s.color_bg = bg;
    s.color_bold = bold;
    s.scroll_bar = 0;
    s.blink_cursor = 0;
    s.cursortype = 0;
    s.keyname = s.nettopc = s.pctonet = "/nonexistent";
    std::snprintf(s.font_name, sizeof s.font_name, "%s", font.c_str());

    no_sockets sockets;
    quiet_ui ui;
    CVellumDoc doc;
    CVellumView view(doc, ui, sockets);
    // The view fits its font to its size, so it is given exactly 80x24 cells of the asked size.
    QFont f = face_request(QString::fromStdString(font));
    f.setKerning(false);
    const int pixels = std::max(2, int(std::lround(size_pt * dpi / 72)));
    f.setPixelSize(pixels);
    const QFontMetricsF fm(f);
    const int cw = int(std::ceil(fm.horizontalAdvance(QLatin1Char('M')) - 0.01));
    const int ch = int(std::ceil(fm.lineSpacing() - 0.01));
    view.resize(80 * cw, 24 * ch);
    view.refit();
    if (!cursor) {
        QFocusEvent out(QEvent::FocusOut);
        QApplication::sendEvent(&view, &out);
    }

    vt& t = view.terminal();
    t.options().utf8 = utf8;
    t.set_emulation(emulation_for_termtype(term));
    for (const auto& r : reads) {
        // As the session shows a read: the replies are taken (and dropped) where feed stops on one.
        const auto* p = reinterpret_cast<const uint8_t*>(r.data());
        for (size_t i = 0; i < r.size();) {
            i += t.feed(p + i, r.size() - i);
            if (t.reply_pending()) t.take_reply();
        }
    }

    if (!text_out.empty()) {
        std::ofstream out(text_out, std::ios::binary);
        out << screen_dump_plain(doc.ring());
        if (!out) {
            std::fprintf(stderr, "vtshot: cannot write %s\n", text_out.c_str());
            return 1;
        }
    }

    const QImage img = view.render_image();
    if (!img.save(QString::fromLocal8Bit(paths[1]))) {  // the format follows the suffix
        std::fprintf(stderr, "vtshot: cannot write %s\n", paths[1]);
        return 1;
    }
    std::printf("cell %dx%d font %s %dpx (asked %d) cursor %d,%d%s image %dx%d\n", view.cell_width(),
                view.cell_height(), qPrintable(QFontInfo(view.screen_font()).family()), s.fontsize, pixels,
                t.cursor_row(), t.cursor_column(), t.cursor_visible() ? "" : " hidden", img.width(), img.height());
    return 0;
}
