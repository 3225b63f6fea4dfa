#include <QDateTime>
#include <QDir>
#include <QObject>
#include <QStandardPaths>
#include <memory>

#include "adapters/cups_printer.h"
#include "adapters/launch.h"
#include "adapters/print_settings.h"
#include "adapters/qt_line_printer.h"
#include "app/mainframe.h"
#include "config/settings.h"
#include "config/ui_services.h"
#include "session/session.h"
#include "terminal/printer/printer_controller.h"
#include "terminal/vt.h"
#include "view/capture.h"
#include "view/print_screen.h"
#include "view/view.h"

namespace {

// Everything printing needs for the life of the view. A child of the view, so it goes after the emulator that
// calls into it.
class file_commands_state : public QObject {
public:
    file_commands_state(QObject* parent, ui_services& ui)
        : QObject(parent),
          // Headless use: line-printer jobs become PDF files in this folder instead of going to a printer.
          pages_(qEnvironmentVariable("QTELNET_PRINT_PDF_DIR")),
          controller_(options_, spooler_, pages_, ui) {
        spooler_.set_notice([&ui](const std::string& text) { ui.message_box(text); });
    }

    printing::printer_controller& controller() { return controller_; }
    print_screen::app_printer& printer() { return printer_; }

    void printer_chosen() {
        const QString name = printer_.name();
        spooler_.set_preferred(name.toStdString());
        pages_.set_preferred(name);
    }

private:
    cups_raw_spooler spooler_;
    qt_page_printer pages_;
    settings_printer_options options_;
    printing::printer_controller controller_;
    print_screen::app_printer printer_;
};

}  // namespace

// Handlers for capture, send file, debug log, mail, print screen and print setup.
void register_file_commands(CMainFrame& f) {
    auto* state = new file_commands_state(&f.view(), f.ui());
    f.terminal().set_printer(&state->controller());

    f.set_command(
        cmd::log_save, [&f] { capture::toggle(f.net(), [&f] { return capture::choose_capture_file(&f); }); },
        [&f] { return f.save_allowed(); }, [&f] { return !f.net().capture_file().empty(); });

    f.set_command(
        cmd::log_read,
        [&f] {
            capture::read_from_file([&f](const std::uint8_t* b, std::size_t n) { return f.net().send_to_host(b, n); },
                                    f.ui(), [&f] { return capture::choose_file_to_send(&f); });
        },
        [&f] { return f.save_allowed(); });

    f.set_command(
        cmd::ssh_log, [&f] { f.net().toggle_debug_log(); }, {}, [&f] { return f.net().log_enabled(); });

    const QString mailer = capture::mail_program();
    f.set_command(
        cmd::send_mail,
        [&f, mailer] {
            const vt& term = f.terminal();
            printing::ring_screen screen(term.ring(), &term);
            // A folder of the user's own: the file name is predictable, so a shared /tmp is no place for it.
            QString temp = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
            if (temp.isEmpty()) temp = QDir::tempPath();
            // The mail program may fail after starting (no mail client configured): that is told too.
            const QString path = capture::mail_screen(
                screen, f.view().term().utf8, temp, QTime::currentTime(), mailer,
                [&f](const QString& program, const QStringList& args) {
                    const QString file = args.value(args.size() - 1);
                    launch::start(program, args, [&f, file](const QString& why) {
                        f.ui().message_box(QStringLiteral("The screen could not be handed to the mail program (%1).\n"
                                                          "The screen text is in %2")
                                               .arg(why, file)
                                               .toStdString());
                    });
                    return true;
                });
            if (path.isEmpty()) f.ui().message_box("The screen could not be handed to the mail program.");
        },
        [mailer] { return !mailer.isEmpty(); });

    f.set_command(cmd::print_screen, [&f, state] {
        const Settings& s = settings();
        const vt& term = f.terminal();
        printing::ring_screen screen(term.ring(), &term);
        printing::print_font font = settings_print_font();
        font.utf8 = f.view().term().utf8;
        print_screen::run(&f, f.ui(), state->printer(), s.askprint != 0, screen, font, {s.x_margin, s.y_margin});
    });

    f.set_command(cmd::print_setup, [&f, state] {
        state->printer().setup(&f);
        state->printer_chosen();
    });
}
