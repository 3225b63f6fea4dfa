#include "setup/ui/setup_ui.h"

#include <QApplication>
#include <QMessageBox>
#include <memory>

int run_setup(int argc, char** argv, bool uninstall)
{
    std::unique_ptr<QApplication> own;
    if (!QApplication::instance())
        own = std::make_unique<QApplication>(argc, argv);
    QMessageBox::information(nullptr, "Setup", uninstall ? "Uninstaller not available yet." : "Installer not available yet.");
    return 1;
}
