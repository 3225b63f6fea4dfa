// Printer controller output to a real CUPS queue: a private scheduler on a file socket, a raw AppSocket queue on
// 127.0.0.1 whose device is socat writing to a file.
#include <cups/cups.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QPrinterInfo>

#include "adapters/cups_printer.h"
#include "adapters/qt_line_printer.h"
#include "config/ui_services.h"
#include "../../support/qt_test_support.h"
#include "cups_sandbox.h"
#include "terminal/printer/printer_controller.h"

using namespace print_test;

namespace {

using qt_test_support::recording_ui;

struct fixed_settings : printing::printer_settings {
    bool raw = true;
    bool rawprint() const override { return raw; }
    printing::print_font font() const override { return {}; }
};

struct blank_screen : printing::printer_screen {
    int columns() const override { return 80; }
    bool tab_stop(int column) const override { return column % 8 == 1 && column > 1; }
    std::uint32_t cell(int row, int column) const override {
        if (column == 1) return static_cast<std::uint32_t>('A' + row - 1);
        return ' ';
    }
};

class CupsPrintTest : public ::testing::Test {
protected:
    static inline cups_sandbox* cups = nullptr;

    static void SetUpTestSuite() {
        cups = new cups_sandbox;
        if (cups->problem.empty()) cupsSetServer(cups->socket_path.c_str());
    }
    static void TearDownTestSuite() {
        delete cups;  // stops cupsd and socat
        cupsSetServer(nullptr);
    }
    void SetUp() override {
        if (!cups->problem.empty()) GTEST_SKIP() << cups->problem;
    }

    recording_ui ui;
    fixed_settings settings;
    blank_screen screen;
    cups_raw_spooler spooler;
};

// Runs first: the scheduler has no queue yet.
TEST_F(CupsPrintTest, A_NoDefaultPrinterIsReportedPerByte) {
    std::string name;
    EXPECT_FALSE(spooler.default_printer(name));
    qt_page_printer pages;
    printing::printer_controller pc(settings, spooler, pages, ui);
    for (char c : std::string("ab")) pc.feed(static_cast<std::uint8_t>(c), screen);
    EXPECT_EQ(ui.messages, std::vector<std::string>(2, printing::kNoDefaultPrinter));
    // The text path drops lines silently when there is no printer.
    EXPECT_EQ(pages.create_default({}), nullptr);
    ASSERT_TRUE(cups->add_queue("testq", true));
}

TEST_F(CupsPrintTest, B_RawControllerDataArrivesByteForByte) {
    qt_page_printer pages;
    printing::printer_controller pc(settings, spooler, pages, ui);
    std::string sent;
    for (int i = 0; i < 256; ++i) sent.push_back(static_cast<char>(i));
    sent += "\x1b[4x\x1b\x1b[\x9b"
            "5z\r\n";
    std::string stream = sent + "\x1b[4i";
    bool ended = false;
    for (char c : stream) ended = pc.feed(static_cast<std::uint8_t>(c), screen);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(pc.raw_job_open());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(wait_for([&] { return cups->received().size() >= sent.size(); }, 30))
        << "received " << cups->received().size() << " bytes";
    EXPECT_EQ(cups->received(), sent);
}

TEST_F(CupsPrintTest, B2_RawJobSurvivesOtherSchedulerRequests) {
    const std::size_t before = cups->received().size();
    qt_page_printer pages;
    printing::printer_controller pc(settings, spooler, pages, ui);
    auto feed = [&](std::string_view bytes) {
        for (char c : bytes) pc.feed(static_cast<std::uint8_t>(c), screen);
    };
    feed("first half, ");
    ASSERT_TRUE(pc.raw_job_open());
    // While the host's job streams, the rest of the program asks the scheduler about printers.
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr);
    EXPECT_NE(dest, nullptr);
    if (dest) cupsFreeDests(1, dest);
    EXPECT_FALSE(QPrinterInfo::defaultPrinter().isNull());
    feed("second half\x1b[4i");
    EXPECT_FALSE(pc.raw_job_open());
    const std::string expected = "first half, second half";
    EXPECT_TRUE(wait_for([&] { return cups->received().size() >= before + expected.size(); }, 30));
    EXPECT_EQ(cups->received().substr(before), expected);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(CupsPrintTest, C_TextPathPrintsThroughDefaultQueue) {
    const std::size_t before = cups->received().size();
    settings.raw = false;
    qt_page_printer pages;  // the system default printer, through Qt's CUPS support
    printing::printer_controller pc(settings, spooler, pages, ui);
    // Two jobs on the same device: each form feed ends one.
    std::string text = "controller text\r\n\fsecond job\n\f";
    for (char c : text) pc.feed(static_cast<std::uint8_t>(c), screen);
    ASSERT_TRUE(pc.has_device()) << "Qt found no default printer";
    // Qt sends each job as PDF; the raw queue passes it on unchanged.
    auto jobs = [&] {
        std::vector<std::string> found;
        const std::string all = cups->received();
        for (std::size_t at = all.find("%PDF-", before); at != std::string::npos;) {
            std::size_t end = all.find("%%EOF", at);
            if (end == std::string::npos) break;
            found.push_back(all.substr(at, end + 5 - at));
            at = all.find("%PDF-", end);
        }
        return found;
    };
    EXPECT_TRUE(wait_for([&] { return jobs().size() >= 2; }, 60));
    const auto found = jobs();
    ASSERT_EQ(found.size(), 2u);
    const char* expected[] = {"controller text", "second job"};
    for (int i = 0; i < 2; ++i) {
        const std::string pdf = cups->dir + "/job" + std::to_string(i) + ".pdf";
        std::ofstream(pdf, std::ios::binary) << found[i];
        EXPECT_NE(pdf_text(pdf).find(expected[i]), std::string::npos) << pdf_text(pdf);
    }
}

// The client opens libcups only at its first job: a machine without it gets one clear message, and the controller
// then goes on as with no printer at all.
TEST(CupsLibrary, AMissingLibraryIsToldOnceAndFindsNoPrinter) {
    cups_raw_spooler spooler("libcups-not-installed.so.2");
    recording_ui ui;
    spooler.set_notice([&ui](const std::string& text) { ui.message_box(text); });
    fixed_settings settings;
    blank_screen screen;
    qt_page_printer pages;
    printing::printer_controller pc(settings, spooler, pages, ui);
    for (char c : std::string("ab")) pc.feed(static_cast<std::uint8_t>(c), screen);
    EXPECT_FALSE(spooler.open("testq"));
    EXPECT_FALSE(spooler.start_document("telnet"));
    ASSERT_EQ(ui.messages.size(), 3u);
    EXPECT_EQ(ui.messages[0].rfind(kPrintingNeedsCups, 0), 0u) << ui.messages[0];
    EXPECT_NE(ui.messages[0].find("libcups-not-installed.so.2"), std::string::npos) << ui.messages[0];
    EXPECT_EQ(ui.messages[1], printing::kNoDefaultPrinter);
    EXPECT_EQ(ui.messages[2], printing::kNoDefaultPrinter);
}

}  // namespace
