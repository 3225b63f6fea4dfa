// The text path of controller printing, print screen and the file commands, checked on real output: PDF files
// written through QPrinter and read back with pdftotext / pdftoppm.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QPrinter>
#include <QTime>
#include <filesystem>
#include <regex>

#include "adapters/qt_line_printer.h"
#include "config/ui_services.h"
#include "../../support/qt_test_support.h"
#include "cups_sandbox.h"
#include "terminal/printer/printer_controller.h"
#include "terminal/screen.h"
#include "terminal/vt.h"
#include "view/capture.h"
#include "view/print_screen.h"

using namespace print_test;

namespace {

using qt_test_support::recording_ui;

struct text_settings : printing::printer_settings {
    printing::print_font f;
    bool rawprint() const override { return false; }
    printing::print_font font() const override { return f; }
};

int count_of(const std::string& s, char c) { return static_cast<int>(std::count(s.begin(), s.end(), c)); }

class PdfTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qtelnet-pdf-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string pdf(int n) const { return dir + "/print-" + std::to_string(n) + ".pdf"; }
    void host(vt& term, std::string_view bytes) {
        for (char c : bytes) term.feed_byte(static_cast<std::uint8_t>(c));
    }

    std::string dir;
    recording_ui ui;
    text_settings settings;
    struct no_spooler : printing::raw_spooler {
        bool default_printer(std::string&) override { return false; }
        bool open(const std::string&) override { return false; }
        bool start_document(std::string_view) override { return false; }
        bool start_page() override { return false; }
        void write(const std::uint8_t*, std::size_t) override {}
        void end_document() override {}
        void close() override {}
    } spooler;
};

TEST_F(PdfTest, ControllerLinesBecomeOneDocument) {
    qt_page_printer pages(QString::fromStdString(dir));
    printing::printer_controller pc(settings, spooler, pages, ui);
    screen_ring ring;
    vt term(ring, nullptr, &pc);
    host(term, "\x1b[5ifirst line\r\nsecond\tcolumn\r\n\fafter\x1b[4iscreen");
    EXPECT_EQ(term.printer_controller(), 0);
    const std::string one = pdf_text(pdf(1));
    EXPECT_TRUE(std::regex_search(one, std::regex("first line\\s*\\n\\s*second +column"))) << one;
    EXPECT_EQ(one.find("after"), std::string::npos);
    EXPECT_NE(pdf_text(pdf(2)).find("after"), std::string::npos);
    EXPECT_EQ(pdf_text(pdf(2)).find("screen"), std::string::npos);  // back on the screen, not printed
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(PdfTest, LongJobBreaksPagesWithoutBlankPage) {
    qt_page_printer pages(QString::fromStdString(dir));
    printing::printer_controller pc(settings, spooler, pages, ui);
    struct plain_screen : printing::printer_screen {
        int columns() const override { return 80; }
        bool tab_stop(int) const override { return false; }
        std::uint32_t cell(int, int) const override { return ' '; }
    } screen;
    const int total = 150;
    for (int i = 1; i <= total; ++i) {
        std::string line = "line " + std::to_string(i) + "\n";
        for (char c : line) pc.feed(static_cast<std::uint8_t>(c), screen);
    }
    const int per_page = pc.lines_per_page() + 1;
    ASSERT_GT(per_page, 10);
    ASSERT_LT(per_page, total);
    pc.feed('\f', screen);
    const std::string text = pdf_text(pdf(1), false);
    const int expected_pages = (total + per_page - 1) / per_page;
    EXPECT_EQ(count_of(text, '\f'), expected_pages);  // pdftotext ends every page with a form feed
    // Every line is there, in order.
    std::size_t at = 0;
    for (int i = 1; i <= total; ++i) {
        at = text.find("line " + std::to_string(i) + "\n", at);
        ASSERT_NE(at, std::string::npos) << "line " << i;
    }
}

TEST_F(PdfTest, PrintScreenRequestPrintsTheRows) {
    qt_page_printer pages(QString::fromStdString(dir));
    printing::printer_controller pc(settings, spooler, pages, ui);
    screen_ring ring;
    vt term(ring, nullptr, &pc);
    host(term, "Hello printer\r\n\x1b[7mreverse row\x1b[m\x1b[24;1Hbottom\x1b[0i");
    const std::string text = pdf_text(pdf(1));
    EXPECT_TRUE(std::regex_search(text, std::regex("Hello printer\\s*\\n\\s*reverse row"))) << text;
    EXPECT_NE(text.find("bottom"), std::string::npos);
    EXPECT_EQ(count_of(text, '\f'), 1);
}

// Counts the dark pixels of page 1 rendered at a low resolution.
int dark_pixels(const std::string& pdf_file) {
    const std::string base = pdf_file + "-img";
    if (run({"/usr/bin/pdftoppm", "-gray", "-r", "40", "-f", "1", "-l", "1", "-singlefile", pdf_file, base}) != 0)
        return -1;
    const std::string pgm = slurp(base + ".pgm");
    // P5 header: magic, width, height, maxval, then one byte per pixel.
    std::size_t pos = 0;
    int fields = 0;
    while (fields < 4 && pos < pgm.size()) {
        while (pos < pgm.size() && std::isspace(static_cast<unsigned char>(pgm[pos]))) ++pos;
        while (pos < pgm.size() && !std::isspace(static_cast<unsigned char>(pgm[pos]))) ++pos;
        ++fields;
    }
    ++pos;
    int dark = 0;
    for (; pos < pgm.size(); ++pos)
        if (static_cast<unsigned char>(pgm[pos]) < 128) ++dark;
    return dark;
}

TEST_F(PdfTest, PrintScreenPageDrawsTextAndLines) {
    screen_ring ring;
    vt term(ring);
    auto make_printer = [&](const std::string& file) {
        auto p = std::make_unique<QPrinter>(QPrinter::HighResolution);
        p->setOutputFormat(QPrinter::PdfFormat);
        p->setOutputFileName(QString::fromStdString(file));
        return p;
    };
    printing::print_font font;
    font.size = -20;

    // A blank screen leaves the page white.
    const std::string blank = dir + "/blank.pdf";
    ASSERT_TRUE(print_screen::print_to(make_printer(blank), printing::ring_screen(ring), font, {10, 10}));
    EXPECT_EQ(dark_pixels(blank), 0);

    // A box of line-drawing characters: drawn as lines, not as the letters that carry them.
    host(term, "\x1b(0lqqqqk\r\nx    x\r\nmqqqqj\x1b(B");
    const std::string box = dir + "/box.pdf";
    ASSERT_TRUE(print_screen::print_to(make_printer(box), printing::ring_screen(ring), font, {10, 10}));
    EXPECT_GT(dark_pixels(box), 20);
    EXPECT_EQ(pdf_text(box).find("qqq"), std::string::npos);

    host(term, "\x1b[5;1HTitle of the screen\x1b[6;3H\x1b[1mbold\x1b[m");
    const std::string text_pdf = dir + "/text.pdf";
    ASSERT_TRUE(print_screen::print_to(make_printer(text_pdf), printing::ring_screen(ring), font, {10, 10}));
    const std::string text = pdf_text(text_pdf);
    EXPECT_TRUE(std::regex_search(text, std::regex("Title of the screen\\s*\\n\\s*bold"))) << text;
}

TEST_F(PdfTest, PrinterFontFromStoredSizeAndFace) {
    printing::print_font f;  // -17, as the font dialog stores it: a cell height
    EXPECT_NEAR(QFontMetrics(make_printer_font(f, 600)).height(), 71, 3);
    // A positive stored size is a character height, zero the usual size; neither may come out as a speck.
    f.size = 17;
    EXPECT_EQ(make_printer_font(f, 600).pixelSize(), 71);
    f.size = 0;
    EXPECT_NEAR(QFontMetrics(make_printer_font(f, 600)).height(), 71, 3);
    // Face names are kept as UTF-8 in the settings.
    f.face = "Mon\xc3\xb6 Test";
    EXPECT_EQ(make_printer_font(f, 600).family(), QString::fromUtf8("Mon\xc3\xb6 Test"));
}

// ---- file commands ---------------------------------------------------------------------------------------------

TEST_F(PdfTest, MailAttachesScreenTextFile) {
    screen_ring ring;
    vt term(ring);
    host(term, "mail me");
    QString program;
    QStringList args;
    auto launch = [&](const QString& p, const QStringList& a) {
        program = p;
        args = a;
        return true;
    };
    const QString path = capture::mail_screen(printing::ring_screen(ring), false, QString::fromStdString(dir),
                                              QTime(9, 5, 7), "mailer", launch);
    EXPECT_EQ(path.toStdString(), dir + "/vt220090507.txt");
    EXPECT_EQ(program, "mailer");
    EXPECT_EQ(args, (QStringList{"--attach", path}));
    const std::string text = slurp(path.toStdString());
    EXPECT_EQ(text.size(), 24u * 81u + 1u);
    EXPECT_EQ(text.substr(0, 8), "mail me ");

    // No mail program, or it does not start: nothing is reported as sent.
    EXPECT_TRUE(capture::mail_screen(printing::ring_screen(ring), false, QString::fromStdString(dir), QTime(9, 5, 8),
                                     "", launch)
                    .isEmpty());
    EXPECT_TRUE(capture::mail_screen(printing::ring_screen(ring), false, QString::fromStdString(dir), QTime(9, 5, 9),
                                     "m", [](const QString&, const QStringList&) { return false; })
                    .isEmpty());
}

}  // namespace
