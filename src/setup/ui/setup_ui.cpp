#include "setup/ui/setup_ui.h"

#include <QApplication>
#include <memory>

#include "config/mycli.h"
#include "setup/locations.h"
#include "setup/ui/setup_pages_qt.h"
#include "setup/ui/setup_settings.h"
#include "setup/ui/setup_window.h"
#include "setup/wizard.h"

namespace {

int exit_code(setup_outcome o) {
    switch (o) {
    case setup_outcome::done: return 0;
    case setup_outcome::cancelled: return 2;
    case setup_outcome::failed: break;
    }
    return 1;
}

}  // namespace

int run_setup(int argc, char** argv, bool uninstall) {
    std::unique_ptr<QApplication> own;
    if (!QApplication::instance()) own = std::make_unique<QApplication>(argc, argv);

    // Only the silent flag matters here; the client's other parameters mean nothing to the wizards. The
    // uninstaller takes /S too, so a scripted removal needs no one at the screen.
    StartupValues sv;
    mycli cli(sv);
    cli.parse(argc, argv);
    const bool silent = sv.silent;
    const setup_locations where = default_locations(argc > 0 ? argv[0] : nullptr);

    CMainWindow window([&](QWidget* parent) {
        qt_setup_pages pages(parent);
        if (uninstall) {
            auto settings = open_client_settings();
            return exit_code(run_uninstall(where, pages, *settings, silent));
        }
        qt_setup_shell shell;
        return exit_code(run_install(where, silent, pages, shell));
    });
    QObject::connect(
        &window, &CMainWindow::wizard_finished, qApp, [](int) { QApplication::quit(); }, Qt::QueuedConnection);
    window.showMaximized();
    QApplication::exec();
    return window.exit_code();
}
