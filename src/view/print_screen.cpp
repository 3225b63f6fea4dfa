#include "view/print_screen.h"

#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include "adapters/qt_line_printer.h"
#include "config/ui_services.h"

namespace print_screen {

bool print_to(std::unique_ptr<QPrinter> printer, const printing::printer_screen& screen,
              const printing::print_font& font, printing::page_margins margins) {
    if (!printer) return false;
    qt_page_device device(std::move(printer), font);
    if (!device.begin_document()) return false;
    printing::draw_screen_page(screen, device, margins, font.charset, font.utf8);
    device.end_document();
    return true;
}

app_printer::app_printer() = default;
app_printer::~app_printer() = default;

void app_printer::setup(QWidget* parent) {
    auto p = make_job_printer();
    if (!p) p = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dlg(p.get(), parent);
    dlg.setWindowTitle(QStringLiteral("Print Setup"));
    dlg.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dlg.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    dlg.setOption(QAbstractPrintDialog::PrintSelection, false);
    if (dlg.exec() == QDialog::Accepted) chosen_ = std::move(p);
}

QString app_printer::name() const {
    return chosen_ && chosen_->outputFormat() == QPrinter::NativeFormat ? chosen_->printerName() : QString();
}

std::unique_ptr<QPrinter> app_printer::make_job_printer() const {
    if (chosen_) {
        QPrinterInfo info = QPrinterInfo::printerInfo(chosen_->printerName());
        auto p = info.isNull() ? std::make_unique<QPrinter>(QPrinter::HighResolution)
                               : std::make_unique<QPrinter>(info, QPrinter::HighResolution);
        if (chosen_->outputFormat() == QPrinter::PdfFormat) {
            p->setOutputFormat(QPrinter::PdfFormat);
            p->setOutputFileName(chosen_->outputFileName());
        }
        p->setPageLayout(chosen_->pageLayout());
        p->setCopyCount(chosen_->copyCount());
        p->setDuplex(chosen_->duplex());
        p->setColorMode(chosen_->colorMode());
        return p;
    }
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) return nullptr;
    return std::make_unique<QPrinter>(info, QPrinter::HighResolution);
}

void run(QWidget* parent, ui_services& ui, app_printer& printer, bool ask, const printing::printer_screen& screen,
         const printing::print_font& font, printing::page_margins margins) {
    auto p = printer.make_job_printer();
    if (ask) {
        if (!p) p = std::make_unique<QPrinter>(QPrinter::HighResolution);
        QPrintDialog dlg(p.get(), parent);
        dlg.setOption(QAbstractPrintDialog::PrintPageRange, false);
        if (dlg.exec() != QDialog::Accepted) return;
    } else if (!p) {
        ui.message_box(printing::kNoDefaultPrinter);
        return;
    }
    if (!print_to(std::move(p), screen, font, margins)) ui.message_box("The screen could not be printed.");
}

}  // namespace print_screen
