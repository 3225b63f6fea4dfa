#pragma once
// "&Print Screen..." and "P&rint Setup...": the screen as one page on a printer chosen in the print dialog, or on
// the application's printer straight away when the settings say not to ask.
#include <QString>
#include <memory>

#include "terminal/printer/screen_print.h"

class QPrinter;
class QWidget;
struct ui_services;

namespace print_screen {

// The page of the screen on an already chosen printer, with the printer font of the settings. False when the
// printer could not be started.
bool print_to(std::unique_ptr<QPrinter> printer, const printing::printer_screen& screen,
              const printing::print_font& font, printing::page_margins margins);

// The application's printer: what "P&rint Setup..." chose last, else the system's default printer.
class app_printer {
public:
    app_printer();
    ~app_printer();
    // Opens the print setup dialog; the choice becomes the application's printer.
    void setup(QWidget* parent);
    // Name of the chosen printer (empty: the system default).
    QString name() const;
    // A printer for one job, copied from the application's choice; null when there is no printer at all.
    std::unique_ptr<QPrinter> make_job_printer() const;

private:
    std::unique_ptr<QPrinter> chosen_;
};

// The whole command. With `ask` the print dialog is shown first (Cancel prints nothing). Without a printer the
// user is told so.
void run(QWidget* parent, ui_services& ui, app_printer& printer, bool ask, const printing::printer_screen& screen,
         const printing::print_font& font, printing::page_margins margins);

}  // namespace print_screen
