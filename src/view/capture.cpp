#include "view/capture.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include "config/settings.h"
#include "config/ui_services.h"

namespace capture {

QString text_file_filter() { return QStringLiteral("Text files (*.txt);;All files (*)"); }

namespace {
QString& last_folder() {
    static QString folder;
    return folder;
}

QString chosen(QFileDialog& dlg) {
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
    const QString file = dlg.selectedFiles().first();
    last_folder() = QFileInfo(file).absolutePath();
    return file;
}
}  // namespace

QString chooser_folder() {
    // Never the program's own folder, where the process happens to run.
    const QString& last = last_folder();
    return !last.isEmpty() && QFileInfo(last).isDir() ? last : QDir::homePath();
}

QString choose_capture_file(QWidget* parent) {
    QFileDialog dlg(parent, QString(), chooser_folder());
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite);  // capture appends
    dlg.setNameFilter(text_file_filter());
    dlg.setDefaultSuffix(QStringLiteral("txt"));
    return chosen(dlg);
}

QString choose_file_to_send(QWidget* parent) {
    QFileDialog dlg(parent, QString(), chooser_folder());
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setNameFilter(text_file_filter());
    dlg.setDefaultSuffix(QStringLiteral("txt"));
    return chosen(dlg);
}

std::string local_path(const QString& path) { return QFile::encodeName(path).toStdString(); }

printing::send_result read_from_file(const sender& send, ui_services& ui, const chooser& choose) {
    const QString path = choose ? choose() : QString();
    if (path.isEmpty() || !send) return {};
    return printing::send_file(local_path(path), send, ui);
}

QString mail_program() { return QStandardPaths::findExecutable(QStringLiteral("xdg-email")); }

QString mail_screen(const printing::printer_screen& screen, bool utf8, const QString& temp_dir, const QTime& now,
                    const QString& program, const launcher& launch) {
    const std::string path =
        printing::mail_file_name(local_path(QDir::cleanPath(temp_dir)), now.hour(), now.minute(), now.second());
    if (!printing::write_screen_text(path, screen, utf8)) return {};
    const QString file = QFile::decodeName(QByteArray::fromStdString(path));
    if (program.isEmpty() || !launch || !launch(program, {QStringLiteral("--attach"), file})) return {};
    return file;
}

}  // namespace capture
