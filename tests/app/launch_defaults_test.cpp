// An ssh:// launch through the main window against a stock sshd that accepts the locale: the host sees
// xterm-256color and the locale, UTF-8 is decoded, and bold cyan text is drawn readable on the paper.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "client_fixture.h"
#include "config/mycli.h"
#include "config/settings.h"
#include "terminal/screen.h"
#include "view/render.h"
#include "view/view.h"

namespace {
using namespace client_test;

double luminance(int bgr) {
    double sum = 0;
    const double weight[3] = {0.2126, 0.7152, 0.0722};  // red, green, blue; 0x00BBGGRR keeps red lowest
    for (int i = 0; i < 3; ++i) {
        const double c = ((bgr >> (8 * i)) & 0xFF) / 255.0;
        sum += weight[i] * (c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
    }
    return sum;
}

TEST(ClientLaunch, SshLaunchRunsWithTodaysDefaults) {
    peer_window w;
    std::string why;
    const int port = w.start_known_sshd(why, {"--option", "AcceptEnv LANG LC_*"});
    if (port < 0) GTEST_SKIP() << why;
    ::setenv("LANG", "C.UTF-8", 1);
    ::setenv("LC_MONETARY", "POSIX", 1);
    mycli cli(w.start);
    ASSERT_TRUE(cli.parse({"ssh://qtpeer@127.0.0.1:" + std::to_string(port)})) << cli.error();
    Settings& s = w.open_window();
    s.ssh_default = 1;
    s.ssh_password = "Peer-pass-42";
    ASSERT_TRUE(w.view().run_autoconnect());
    const bool prompt = w.screen_shows("$ ", 15000);
    w.home_guard.reset();
    ASSERT_TRUE(prompt) << screen_text(w.view()) << w.last_message();
    // Octal escapes: the typed line shows none of what the host prints.
    w.type_line("printf 'T=%s M=%s \\303\\251 \\033[1;36mZ\\033[0m.\\n' \"$TERM\" \"$LC_MONETARY\"");
    ASSERT_TRUE(w.screen_shows("T=xterm-256color M=POSIX ")) << screen_text(w.view());
    // The row the host printed: é is one cell, one code point; the bold cyan Z after it.
    const screen_ring& ring = w.view().ring();
    int row = 0;
    for (int r = 1; r <= ring.rows() && !row; ++r) {
        std::string text;
        for (int c = 1; c <= 2; ++c) text += static_cast<char>(ring.line(r).cell(c) & cell_char_mask);
        if (text == "T=") row = r;
    }
    ASSERT_GT(row, 0) << screen_text(w.view());
    const int e_col = 1 + static_cast<int>(std::string("T=xterm-256color M=POSIX ").size());
    EXPECT_EQ(cell_code(ring.line(row).cell(e_col)), 0xE9u);
    const int z_col = e_col + 2;
    const std::uint32_t z = ring.line(row).cell(z_col);
    ASSERT_EQ(static_cast<char>(z & cell_char_mask), 'Z') << screen_text(w.view());
    const cell_colours zc = ring.line(row).colours(z_col);
    const cell_palette pal{s.color_fg, s.color_bg, s.color_bold, s.color_cursor, w.view().terminal().palette().data()};
    const run_colors drawn = colors_for(z, zc.fg, zc.bg, zc.extra, false, false, false, pal, s.bold_bright != 0);
    const double a = luminance(drawn.ink), b = luminance(drawn.paper);
    EXPECT_GE((std::max(a, b) + 0.05) / (std::min(a, b) + 0.05), 4.5)
        << std::hex << "ink " << drawn.ink << " paper " << drawn.paper;
    EXPECT_TRUE(w.ui.messages.empty()) << w.last_message();
}

}  // namespace
