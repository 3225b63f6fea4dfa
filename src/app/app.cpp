#include "app/app.h"

#include <QApplication>
#include <QSessionManager>
#include <QTimer>
#include <cstdio>

#include "adapters/client_settings.h"
#include "adapters/qt_socket.h"
#include "adapters/qt_ui_services.h"
#include "app/commands.h"
#include "app/mainframe.h"
#include "config/mycli.h"
#include "session/jump.h"
#include "setup/role.h"
#include "setup/ui/setup_ui.h"
#include "view/document.h"
#include "view/view.h"

int CVellumApp::run(int argc, char** argv) {
    switch (program_role(argc > 0 ? argv[0] : "")) {
    case app_role::installer: return run_setup(argc, argv, false);
    case app_role::uninstaller: return run_setup(argc, argv, true);
    case app_role::client: break;
    }

    // Before any window system is needed, so it also works without a display.
    if (mycli::wants_usage(argc, argv)) {
        const std::string_view text = usage_text();
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }

    QApplication app(argc, argv);  // takes its own options (-platform, -display, ...) out of argv
    QApplication::setApplicationName(QStringLiteral("qtelnet"));
    QApplication::setOrganizationName(QStringLiteral("QuillSoft"));
    // No display name: the platform would append it to every dialog title, and window managers then cut the
    // dialog's own title short. The main window names the program itself.

    StartupValues& sv = startup_values();
    mycli cli(sv);
    if (!cli.parse(argc, argv)) {
        std::fprintf(stderr, "qtelnet: %s\n", cli.error().c_str());
        return 2;
    }

    qt_ui_services ui;
    client_settings store;  // the SSH password never reaches the file
    qt_socket_factory sockets;
    CVellumDoc doc;
    CMainFrame frame(doc, sv, ui, store, sockets);
    ui.set_parent(&frame);

    // The desktop session is ending: save without asking.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &frame,
                     [&frame](QSessionManager&) { frame.save_settings(); });
    // A settings file that could not be used is told once the window is up (the defaults are in use).
    if (const std::string problem = store.load_problem(); !problem.empty())
        QTimer::singleShot(0, &frame, [&ui, problem] { ui.message_box(problem); });
    // Jump hosts named with -J lead to the launched host only (Reconnect included), never to another session's.
    if (!sv.launch.jump.empty()) {
        std::string why;
        if (parse_jump_chain(sv.launch.jump, &why))
            frame.view().set_launch_jump(sv.launch.host, sv.launch.jump);
        else if (sv.launch_error.empty())
            sv.launch_error = "Cannot use the jump hosts \"" + sv.launch.jump + "\": " + why + ".";
    }
    // An address that could not be used is told, and the Connect dialog is where the user goes on from.
    if (!sv.launch_error.empty()) {
        QTimer::singleShot(0, &frame, [&frame, &ui, why = sv.launch_error] {
            ui.message_box(why);
            frame.run_command(cmd::connect);
        });
    }
    // The one automatic connection of the run, once the window is up.
    QTimer::singleShot(0, &frame, [&frame] { frame.view().run_autoconnect(); });
    return app.exec();
}
