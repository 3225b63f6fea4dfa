#include "adapters/qt_line_printer.h"
#include "view/font_face.h"

#include <QDir>
#include <QFontMetrics>
#include <QPen>
#include <QPrinter>
#include <QPrinterInfo>
#include <algorithm>

QFont make_printer_font(const printing::print_font& pf, int resolution_y) {
    int height = printing::printer_font_height(pf.size, resolution_y);
    // A size of 0 means "the usual size", not a one-unit font.
    if (height == 0) height = printing::printer_font_height(printing::print_font{}.size, resolution_y);
    // Settings texts are UTF-8.
    QFont f = face_request(QString::fromUtf8(pf.face.c_str()));
    if (pf.weight >= 100 && pf.weight <= 900) f.setWeight(static_cast<QFont::Weight>(pf.weight));
    f.setItalic(pf.italic);
    f.setStyleStrategy(QFont::PreferAntialias);
    if (height < 0) {
        // A positive stored size comes out negative: a character (em) height, which is what Qt sizes by.
        f.setPixelSize(-height);
        return f;
    }
    // A cell height (ascent + descent); Qt sizes by em, so scale once by what it measured.
    const int cell = std::max(1, height);
    f.setPixelSize(cell);
    const int measured = QFontMetrics(f).height();
    if (measured > 0 && measured != cell) f.setPixelSize(std::max(1, cell * cell / measured));
    return f;
}

qt_page_device::qt_page_device(std::unique_ptr<QPrinter> printer, const printing::print_font& font)
    : printer_(std::move(printer)) {
    font_ = make_printer_font(font, printer_->resolution());
    QFontMetrics m(font_, printer_.get());
    line_height_ = std::max(1, m.height() + m.leading());
    char_width_ = std::max(1, m.averageCharWidth());
    ascent_ = m.ascent();
}

qt_page_device::~qt_page_device() {
    if (painter_.isActive()) painter_.end();
}

int qt_page_device::page_height() const { return printer_->height(); }

bool qt_page_device::begin_document() {
    if (painter_.isActive()) painter_.end();
    if (!pdf_dir_.isEmpty()) {
        printer_->setOutputFormat(QPrinter::PdfFormat);
        printer_->setOutputFileName(QDir(pdf_dir_).filePath(QStringLiteral("print-%1.pdf").arg(documents_ + 1)));
    }
    if (!painter_.begin(printer_.get())) return false;
    ++documents_;
    painter_.setFont(font_);
    painter_.setPen(Qt::black);
    page_pending_ = false;
    return true;
}

void qt_page_device::new_page() { page_pending_ = true; }

void qt_page_device::open_pending_page() {
    if (!page_pending_) return;
    page_pending_ = false;
    printer_->newPage();
}

void qt_page_device::end_document() {
    page_pending_ = false;
    if (painter_.isActive()) painter_.end();
}

void qt_page_device::text_out(int x, int y, std::string_view text) {
    if (!painter_.isActive()) return;
    open_pending_page();
    painter_.drawText(QPoint(x, y + ascent_), QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void qt_page_device::line(int x1, int y1, int x2, int y2, int width) {
    if (!painter_.isActive()) return;
    open_pending_page();
    QPen pen(Qt::black, width, Qt::SolidLine, Qt::SquareCap);
    painter_.save();
    painter_.setPen(pen);
    painter_.drawLine(x1, y1, x2, y2);
    painter_.restore();
}

std::unique_ptr<printing::page_device> qt_page_printer::create_default(const printing::print_font& font) {
    std::unique_ptr<QPrinter> printer;
    if (pdf_dir_.isEmpty()) {
        QPrinterInfo info;
        if (!preferred_.isEmpty()) info = QPrinterInfo::printerInfo(preferred_);
        if (info.isNull()) info = QPrinterInfo::defaultPrinter();
        if (info.isNull()) return nullptr;
        printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
        if (!printer->isValid()) return nullptr;
    } else {
        printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
    }
    auto device = std::make_unique<qt_page_device>(std::move(printer), font);
    if (!pdf_dir_.isEmpty()) device->set_pdf_series(pdf_dir_);
    return device;
}
