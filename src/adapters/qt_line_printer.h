#pragma once
// The text path of printing on Qt: a QPrinter with the printer font as the page device, and a factory that makes
// one for the system's default printer (or, for headless use and tests, for a series of PDF files).
#include <QFont>
#include <QPainter>
#include <QString>
#include <memory>

#include "terminal/printer/printer_device.h"

class QPrinter;

// The printer font for a printer of the given vertical resolution: cell height from the stored size, weight,
// italic and face; a fixed-pitch face is preferred when the named one is missing.
QFont make_printer_font(const printing::print_font& pf, int resolution_y);

class qt_page_device : public printing::page_device {
public:
    // Takes over a printer that is set up already (default printer, dialog choice or PDF file).
    qt_page_device(std::unique_ptr<QPrinter> printer, const printing::print_font& font);
    ~qt_page_device() override;

    int line_height() const override { return line_height_; }
    int char_width() const override { return char_width_; }
    int page_height() const override;
    bool begin_document() override;
    void new_page() override;
    void end_document() override;
    void text_out(int x, int y, std::string_view bytes) override;
    void line(int x1, int y1, int x2, int y2, int width) override;

    QPrinter& printer() { return *printer_; }
    const QFont& font() const { return font_; }
    // Every document goes to a PDF file of its own: <dir>/print-<n>.pdf, n counting from 1.
    void set_pdf_series(const QString& dir) { pdf_dir_ = dir; }
    int documents() const { return documents_; }

private:
    void open_pending_page();

    std::unique_ptr<QPrinter> printer_;
    QFont font_;
    QPainter painter_;
    int line_height_ = 1;
    int char_width_ = 1;
    int ascent_ = 0;
    bool page_pending_ = false;  // the next drawing starts a new page (no blank page at the end of a job)
    QString pdf_dir_;
    int documents_ = 0;
};

class qt_page_printer : public printing::page_printer {
public:
    // pdf_dir empty: the system's default printer. Otherwise documents become PDF files in pdf_dir.
    explicit qt_page_printer(QString pdf_dir = {}) : pdf_dir_(std::move(pdf_dir)) {}
    std::unique_ptr<printing::page_device> create_default(const printing::print_font& font) override;
    // The printer chosen in the application's print setup; empty (or gone) means the system's default.
    void set_preferred(QString name) { preferred_ = std::move(name); }

private:
    QString pdf_dir_;
    QString preferred_;
};
