#include "terminal/printer/printer_controller.h"

#include <gtest/gtest.h>

#include "recording_printer.h"

using namespace printing;
using namespace printing::testing;
using namespace std::literals;

namespace {

class ControllerTest : public ::testing::Test {
protected:
    event_log log;
    recording_ui ui;
    recording_spooler spooler{log};
    recording_pages pages{log};
    fixed_settings settings;
    fake_screen screen;
    printer_controller pc{settings, spooler, pages, ui};

    // Feeds bytes; returns the index of the byte that ended controller mode, or -1.
    int feed(std::string_view bytes) {
        int ended = -1;
        for (std::size_t i = 0; i < bytes.size(); ++i)
            if (pc.feed(static_cast<std::uint8_t>(bytes[i]), screen) && ended < 0) ended = static_cast<int>(i);
        return ended;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> t;
        for (const auto& l : pages.lines) t.push_back(l.text);
        return t;
    }
};

// ---- text path ------------------------------------------------------------------------------------------------

TEST_F(ControllerTest, TextLineDropsCarriageReturnAndControls) {
    EXPECT_EQ(feed("a\x00"
                   "b\x07"
                   "c\r\n"sv),
              -1);
    ASSERT_EQ(texts(), std::vector<std::string>{"abc"});
    EXPECT_EQ(pages.lines[0].x, 10);
    EXPECT_EQ(pages.lines[0].y, 10);  // one line height below the top
    EXPECT_TRUE(pc.text_document_open());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(spooler.data.empty());
}

TEST_F(ControllerTest, EmptyLinesStillAdvance) {
    feed("a\n\nb\n");
    EXPECT_EQ(texts(), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(pages.lines[2].y, 30);
}

TEST_F(ControllerTest, IncompleteEndSequenceIsStoredInOrder) {
    feed("\x1b[4x\n");
    EXPECT_EQ(texts(), std::vector<std::string>{"\x1b[4x"});
    EXPECT_EQ(pc.escape_state(), 0);
    // A second ESC restarts recognition: the first one is ordinary data.
    feed("\x1b\x1b[4i");
    EXPECT_EQ(texts().back(), "\x1b");
}

TEST_F(ControllerTest, LongLineKeepsFirst190Characters) {
    std::string line;
    for (int i = 0; i < 250; ++i) line.push_back(static_cast<char>('A' + i % 26));
    feed(line + "\n");
    ASSERT_EQ(pages.lines.size(), 1u);
    EXPECT_EQ(pages.lines[0].text, line.substr(0, 190));
    EXPECT_EQ(pc.line_length(), 0);
}

TEST_F(ControllerTest, BackspaceOverwritesAndStopsAtZero) {
    feed("\bab\bX\n");
    feed("abc\b\b\b\b\bY\n");  // nothing after the last byte stored is printed
    EXPECT_EQ(texts(), (std::vector<std::string>{"aX", "Y"}));
}

TEST_F(ControllerTest, TabUsesScreenTabStops) {
    feed("a\tb\n");
    EXPECT_EQ(texts().back(), "a       b");  // b in column 9
    feed("\tc\n");
    EXPECT_EQ(texts().back(), "        c");
    // From column 73 there is no stop left: the tab ends one column before the right edge.
    feed(std::string(72, '.') + "\tz\n");
    EXPECT_EQ(texts().back().size(), 79u);
    EXPECT_EQ(texts().back().back(), 'z');
    // Past the screen width a tab leaves the line alone.
    feed(std::string(100, '.') + "\tz\n");
    EXPECT_EQ(texts().back(), std::string(100, '.') + "z");
}

TEST_F(ControllerTest, FormFeedEndsJobWithoutEmptyLine) {
    feed("abc\n\f");
    EXPECT_EQ(texts(), std::vector<std::string>{"abc"});
    EXPECT_EQ(log.count("doc:end"), 1);
    EXPECT_FALSE(pc.text_document_open());
    // A form feed with nothing printed since does not open or end anything.
    feed("\f");
    EXPECT_EQ(log.count("doc:end"), 1);
    EXPECT_EQ(log.count("doc:begin"), 1);
}

TEST_F(ControllerTest, FormFeedPrintsPendingLineFirst) {
    feed("xy\f");
    EXPECT_EQ(texts(), std::vector<std::string>{"xy"});
    EXPECT_EQ(log.events.back(), "doc:end");
    feed("next\n");
    EXPECT_EQ(log.count("doc:begin"), 2);  // a new document for the next job
    EXPECT_EQ(pages.lines.back().y, 10);   // which starts at the top again
}

TEST_F(ControllerTest, EndSequenceFlushesLineAndEndsJob) {
    EXPECT_EQ(feed("abc\x1b[4i"), 6);
    EXPECT_EQ(texts(), std::vector<std::string>{"abc"});
    EXPECT_EQ(log.events.back(), "doc:end");
    EXPECT_EQ(pc.line_length(), 0);
    EXPECT_EQ(pc.escape_state(), 0);
}

TEST_F(ControllerTest, EightBitEndSequence) {
    EXPECT_EQ(feed("q\x9b"
                   "4i"),
              3);
    EXPECT_EQ(texts(), std::vector<std::string>{"q"});
    // 0x9B followed by something else is ordinary data, printed as its Windows-1252 character.
    feed("\x9b"
         "5\n");
    EXPECT_EQ(texts().back(), "\xe2\x80\xba"
                              "5");
}

TEST_F(ControllerTest, PagesHoldLinesPerPagePlusOne) {
    pages.line_height = 10;
    pages.page_height = 50;  // 50 / 10 - 2 = 3 lines per page, so 4 lines on a page
    feed("1\n2\n3\n4\n5\n");
    EXPECT_EQ(pc.lines_per_page(), 3);
    ASSERT_EQ(pages.lines.size(), 5u);
    EXPECT_EQ(pages.lines[3].y, 40);
    EXPECT_EQ(pages.lines[3].page, 1);
    EXPECT_EQ(pages.lines[4].y, 10);
    EXPECT_EQ(pages.lines[4].page, 2);
    EXPECT_EQ(log.count("doc:new_page"), 1);
}

TEST_F(ControllerTest, TextPathWithoutPrinterDropsSilently) {
    pages.has_default = false;
    feed("lost\n\f");
    EXPECT_TRUE(pages.lines.empty());
    EXPECT_TRUE(ui.messages.empty());
    pages.has_default = true;  // a printer appears: the next line finds it
    feed("found\n");
    EXPECT_EQ(texts(), std::vector<std::string>{"found"});
}

// A flood of controller data with no printer must not ask the spooler for every line (or byte).
TEST_F(ControllerTest, WithoutPrinterTheDefaultIsLookedUpOncePerJob) {
    pages.has_default = false;
    std::string flood;
    for (int i = 0; i < 500; ++i) flood += "line for nobody\n";
    feed(flood);
    EXPECT_EQ(log.count("dev:create"), 1);
    EXPECT_TRUE(ui.messages.empty());
    pages.has_default = true;
    feed("still this job\n");
    EXPECT_TRUE(pages.lines.empty()) << "the rest of the job is dropped";
    feed("\x1b[4i");  // the job ends: the next one looks again and finds the printer
    feed("next job\n");
    EXPECT_EQ(texts(), std::vector<std::string>{"next job"});
    EXPECT_EQ(log.count("dev:create"), 2);

    settings.raw = true;
    spooler.has_default = false;
    feed("\x1b[4i"
         "abc");
    EXPECT_EQ(log.count("raw:default"), 1);
    EXPECT_EQ(ui.messages, std::vector<std::string>(3, kNoDefaultPrinter)) << "the message rule holds per byte";
}

TEST_F(ControllerTest, FontChangeTakesEffectWithTheNextLine) {
    settings.f.face = "Mono A";
    feed("a\nb\n");
    settings.f.face = "Mono B";
    feed("c\n");
    // The open document was finished with the old font, not dropped; the next line starts one with the new font.
    ASSERT_EQ(pages.fonts.size(), 2u);
    EXPECT_EQ(pages.fonts[1].face, "Mono B");
    EXPECT_EQ(log.count("doc:end"), 1);
    EXPECT_EQ(log.count("doc:begin"), 2);
    EXPECT_EQ(pages.lines[2].y, 10);  // at the top of the new document
    EXPECT_EQ(texts(), (std::vector<std::string>{"a", "b", "c"}));
    feed("d\n");  // same font: the device is kept
    EXPECT_EQ(pages.fonts.size(), 2u);
}

TEST_F(ControllerTest, ReleasedDeviceIsMadeAgainForTheNextLine) {
    feed("a\n");
    pc.release_device();
    EXPECT_EQ(log.events.back(), "doc:end");
    EXPECT_FALSE(pc.has_device());
    feed("b\n");
    EXPECT_EQ(pages.fonts.size(), 2u);
    EXPECT_EQ(texts(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(ControllerTest, NewJobNoticesChangedFont) {
    feed("a\f");
    settings.f.size = -24;
    feed("b\n");
    ASSERT_EQ(pages.fonts.size(), 2u);
    EXPECT_EQ(pages.fonts[1].size, -24);
    feed("\fc\n");  // same font: the device is kept
    EXPECT_EQ(pages.fonts.size(), 2u);
    EXPECT_EQ(log.count("doc:begin"), 3);
}

// ---- raw path -------------------------------------------------------------------------------------------------

TEST_F(ControllerTest, RawBytesPassUnchangedInOneJob) {
    settings.raw = true;
    std::string data = "ab\r\n\x00\x0c\x1b[4x\x1b"
                       "E\x9b"
                       "5z\x1b\x1b["s;
    data.push_back('\x7f');
    EXPECT_EQ(feed(data), -1);
    EXPECT_EQ(spooler.data, data);
    EXPECT_EQ(log.count("raw:start_doc telnet"), 1);
    EXPECT_EQ(log.count("raw:open testq"), 1);
    EXPECT_TRUE(pc.raw_job_open());
    // Bytes go out one at a time.
    EXPECT_EQ(log.count("raw:write 1"), static_cast<int>(data.size()));
    EXPECT_TRUE(pages.lines.empty());
}

TEST_F(ControllerTest, RawEndSequenceIsNotPrintedAndClosesJob) {
    settings.raw = true;
    EXPECT_EQ(feed("data\x1b[4i"), 7);
    EXPECT_EQ(spooler.data, "data");
    EXPECT_FALSE(pc.raw_job_open());
    EXPECT_EQ(log.events[log.events.size() - 2], "raw:end_doc");
    EXPECT_EQ(log.events.back(), "raw:close");
    // The next data opens a new job.
    feed("x");
    EXPECT_EQ(log.count("raw:start_doc"), 2);
}

TEST_F(ControllerTest, RawWithoutDefaultPrinterWarnsForEveryByte) {
    settings.raw = true;
    spooler.has_default = false;
    feed("abc");
    EXPECT_EQ(ui.messages, std::vector<std::string>(3, kNoDefaultPrinter));
    EXPECT_TRUE(spooler.data.empty());
    EXPECT_EQ(log.count("raw:open"), 0);
}

TEST_F(ControllerTest, RawDocumentRefusedDropsByteAndRetries) {
    settings.raw = true;
    spooler.doc_ok = false;
    feed("a");
    EXPECT_EQ(ui.messages, std::vector<std::string>{kRawRefused});
    EXPECT_EQ(log.events.back(), "raw:close");
    spooler.doc_ok = true;
    feed("b");
    EXPECT_EQ(spooler.data, "b");
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(ControllerTest, RawOpenOrPageFailureIsSilent) {
    settings.raw = true;
    spooler.open_ok = false;
    feed("a");
    spooler.open_ok = true;
    spooler.page_ok = false;
    feed("b");
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(spooler.data.empty());
    EXPECT_FALSE(pc.raw_job_open());
    // A failed page unwinds the document and the printer.
    const auto& e = log.events;
    ASSERT_GE(e.size(), 2u);
    EXPECT_EQ(e[e.size() - 2], "raw:end_doc");
    EXPECT_EQ(e.back(), "raw:close");
}

TEST_F(ControllerTest, OpenRawJobIsFinishedOnDestruction) {
    auto own = std::make_unique<printer_controller>(settings, spooler, pages, ui);
    settings.raw = true;
    own->feed('z', screen);
    own.reset();
    EXPECT_EQ(log.events.back(), "raw:close");
    EXPECT_EQ(spooler.data, "z");
}

// ---- print screen ---------------------------------------------------------------------------------------------

TEST_F(ControllerTest, PrintScreenPrintsEveryRowAsOneDocument) {
    screen.cells[0][0] = 'H' | 0x100;   // attributes are dropped
    screen.cells[0][1] = 'q' | 0x2000;  // graphics characters print their byte
    screen.cells[23][79] = '!';
    pc.print_screen(screen);
    ASSERT_EQ(pages.lines.size(), 24u);
    EXPECT_EQ(pages.lines[0].text, "Hq" + std::string(78, ' '));
    EXPECT_EQ(pages.lines[23].text, std::string(79, ' ') + "!");
    EXPECT_EQ(log.count("doc:begin"), 1);
    EXPECT_EQ(log.events.back(), "doc:end");

    pc.print_screen(screen);
    EXPECT_EQ(log.count("doc:begin"), 2);
    EXPECT_EQ(log.count("doc:end"), 2);
    EXPECT_EQ(pages.lines[24].y, 10);
}

TEST_F(ControllerTest, PrintScreenUsesColumnCount) {
    screen.cols = 132;
    pc.print_screen(screen);
    EXPECT_EQ(pages.lines[0].text.size(), 132u);
}

TEST_F(ControllerTest, PrintScreenDuringRawJobUsesTextAndEndsBoth) {
    settings.raw = true;
    feed("raw");
    ASSERT_TRUE(pc.raw_job_open());
    pc.print_screen(screen);
    EXPECT_EQ(pages.lines.size(), 24u);
    EXPECT_EQ(spooler.data, "raw");
    EXPECT_FALSE(pc.raw_job_open());
    EXPECT_FALSE(pc.text_document_open());  // the screen print is not held back
    EXPECT_EQ(log.count("raw:close"), 1);
    EXPECT_EQ(log.count("doc:end"), 1);
}

// ---- font height ----------------------------------------------------------------------------------------------

TEST(PrinterFont, HeightFromDialogSize) {
    EXPECT_EQ(mul_div(-17, 600, 72), -142);  // -141.67 rounds away from zero
    EXPECT_EQ(mul_div(5, 3, 2), 8);
    EXPECT_EQ(mul_div(-5, 3, 2), -8);
    EXPECT_EQ(mul_div(1, 2, 0), 0);
    EXPECT_EQ(printer_font_height(-17, 600), 71);
    EXPECT_EQ(printer_font_height(-17, 72), 8);
    EXPECT_EQ(printer_font_height(-10, 300), 21);  // 41.67 rounds to 42 before halving
}

}  // namespace

// The printer font's script decides the characters of printed bytes; with utf8 the bytes are decoded instead.
TEST_F(ControllerTest, PrintedCharactersFollowTheScriptOrUtf8) {
    const struct {
        int charset;
        bool utf8;
        std::string in, out;
    } cases[] = {
        {0, false, "\xc6\xe9", "\xc3\x86\xc3\xa9"},                   // Æé
        {204, false, "\xc6\xe9", "\xd0\x96\xd0\xb9"},                 // Жй
        {161, false, "\xc1\x81", "\xce\x91\xef\xbf\xbd"},             // Α, undefined byte as U+FFFD
        {204, true, "\xd0\x96\xe4\xb8\xad", "\xd0\x96\xe4\xb8\xad"},  // Ж中 whatever the script
        {0, true, "a\xe4\xb8z", "a\xef\xbf\xbdz"},                    // malformed keeps the next byte
    };
    for (const auto& c : cases) {
        settings.f.charset = c.charset;
        settings.f.utf8 = c.utf8;
        pages.lines.clear();
        feed(c.in + "\n");
        ASSERT_FALSE(texts().empty());
        EXPECT_EQ(texts().back(), c.out) << c.charset << (c.utf8 ? " utf8" : "");
    }
}

// A full line of bytes whose characters take two or three bytes of UTF-8 is longer than the line buffer once
// converted; every one of its 190 characters is still printed.
TEST_F(ControllerTest, FullLineOfMultiByteCharactersIsPrintedWhole) {
    const struct {
        int charset;
        char byte;
        std::string character;
    } cases[] = {
        {0, '\x80', "\xe2\x82\xac"},    // €
        {0, '\x91', "\xe2\x80\x98"},    // left single quotation mark
        {0, '\x81', "\xef\xbf\xbd"},    // undefined in the code page
        {255, '\xc4', "\xe2\x94\x80"},  // box drawing horizontal
        {0, '\xff', "\xc3\xbf"},        // ÿ
    };
    for (const auto& c : cases) {
        settings.f.charset = c.charset;
        pages.lines.clear();
        feed("\t" + std::string(250, c.byte) + "\n");
        std::string want(8, ' ');
        for (int i = 8; i < printer_controller::kMaxLineLength; ++i) want += c.character;
        ASSERT_EQ(texts().size(), 1u);
        EXPECT_EQ(texts()[0], want) << c.charset << ' ' << int(static_cast<unsigned char>(c.byte));
    }
}

TEST_F(ControllerTest, PrintScreenOfUtf8CellsGivesEachCharacterOnce) {
    settings.f.utf8 = true;
    screen.cells[0][0] = cell_wide | cell_of_code(0x4E20);  // low byte 0x20, still a character
    screen.cells[0][1] = cell_wide_right | cell_blank;
    screen.cells[0][2] = cell_of_code(0x416);
    pc.print_screen(screen);
    ASSERT_EQ(pages.lines.size(), 24u);
    EXPECT_EQ(pages.lines[0].text, "\xe4\xb8\xa0\xd0\x96" + std::string(77, ' '));
}
