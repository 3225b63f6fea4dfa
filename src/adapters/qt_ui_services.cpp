#include "adapters/qt_ui_services.h"

#include <QApplication>
#include <QMessageBox>

namespace {
QString to_qstring(std::string_view t) { return QString::fromLocal8Bit(t.data(), static_cast<qsizetype>(t.size())); }
// The program's name, as the main window shows it.
QString title() { return QStringLiteral("Quill W32 Telnet"); }
}  // namespace

void qt_ui_services::message_box(std::string_view text) {
    QMessageBox::information(parent_, title(), to_qstring(text), QMessageBox::Ok);
}

bool qt_ui_services::ask_yes_no(std::string_view text) {
    return QMessageBox::question(parent_, title(), to_qstring(text), QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}
