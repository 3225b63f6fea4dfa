// The program as a user would start it, reduced to the role dispatch: copied to "setup" it installs, as
// "qtuninst" it uninstalls (its pages answered with their default button unless it was started with parameters,
// such as /S), under any other name it only leaves a mark that it was started, and where.
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "setup/role.h"
#include "setup/ui/setup_ui.h"

int main(int argc, char** argv) {
    switch (program_role(argv[0])) {
    case app_role::installer: return run_setup(argc, argv, false);
    case app_role::uninstaller: {
        QApplication app(argc, argv);
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [] {
            if (QWidget* w = QApplication::activeModalWidget())
                for (QPushButton* b : w->findChildren<QPushButton*>())
                    if (b->text() == "Ok" || b->text() == "OK") {
                        b->click();
                        return;
                    }
        });
        if (argc < 2) answer.start(10);
        return run_setup(argc, argv, true);
    }
    case app_role::client: break;
    }
    const char* home = std::getenv("HOME");
    std::ofstream(std::filesystem::path(home ? home : "/tmp") / "client-started")
        << std::filesystem::current_path().string() << "\n";
    return 0;
}
