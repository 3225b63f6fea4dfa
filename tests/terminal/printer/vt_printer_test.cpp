// The controller as the emulator's printer sink: what the host sends in controller mode reaches the printer and
// not the screen, and the screen comes back when the end sequence arrives.
#include <gtest/gtest.h>

#include "recording_printer.h"
#include "terminal/printer/printer_controller.h"
#include "terminal/screen.h"
#include "terminal/vt.h"

using namespace printing;
using namespace printing::testing;

namespace {

class VtPrinterTest : public ::testing::Test {
protected:
    event_log log;
    recording_ui ui;
    recording_spooler spooler{log};
    recording_pages pages{log};
    fixed_settings settings;
    printer_controller pc{settings, spooler, pages, ui};
    screen_ring ring;
    vt term{ring, nullptr, &pc};

    void host(std::string_view s) {
        for (char c : s) term.feed_byte(static_cast<std::uint8_t>(c));
    }
    std::string row(int r, int n) const {
        std::string s;
        for (int c = 1; c <= n; ++c) s.push_back(static_cast<char>(ring.line(r).cell(c) & 0xFF));
        return s;
    }
};

TEST_F(VtPrinterTest, ControllerModeTextGoesToPrinterOnly) {
    host("\x1b[5ihello\tworld\r\nsecond\x1b[4iX");
    EXPECT_EQ(term.printer_controller(), 0);
    ASSERT_EQ(pages.lines.size(), 2u);
    EXPECT_EQ(pages.lines[0].text, "hello   world");
    EXPECT_EQ(pages.lines[1].text, "second");
    EXPECT_FALSE(pc.text_document_open());
    EXPECT_EQ(row(1, 3), "X  ");
}

TEST_F(VtPrinterTest, RawControllerModeWithEightBitIntroducers) {
    settings.raw = true;
    host("\x9b"
         "5i\x1b"
         "E\x9b"
         "1mtext\x9b"
         "4iY");
    EXPECT_EQ(spooler.data, "\x1b"
                            "E\x9b"
                            "1mtext");
    EXPECT_FALSE(pc.raw_job_open());
    EXPECT_EQ(row(1, 1), "Y");
}

TEST_F(VtPrinterTest, ParserEndOfControllerEndsOpenJob) {
    settings.raw = true;
    host("\x1b[5iabc");
    ASSERT_TRUE(pc.raw_job_open());
    // A CSI 4 i that reaches the parser (controller mode switched off by a reset meanwhile) still ends the job.
    term.reset_terminal(true);
    host("\x1b[4i");
    EXPECT_FALSE(pc.raw_job_open());
    EXPECT_EQ(spooler.data, "abc");
}

TEST_F(VtPrinterTest, EachPrintScreenRequestIsADocumentOfItsOwn) {
    settings.raw = true;  // print screen takes the text path whatever the mode
    host("top row\x1b[i\x1b[0i");
    ASSERT_EQ(pages.lines.size(), 48u);
    EXPECT_EQ(pages.lines[0].text, "top row" + std::string(73, ' '));
    EXPECT_EQ(pages.lines[24].text, pages.lines[0].text);
    EXPECT_EQ(log.count("doc:begin"), 2);
    EXPECT_EQ(log.count("doc:end"), 2);
    EXPECT_TRUE(spooler.data.empty());
    EXPECT_EQ(term.printer_controller(), 0);
}

}  // namespace
