#include "setup/ui/setup_pages_qt.h"

#include <QCheckBox>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>
#include <memory>

#include "adapters/launch.h"

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// Dialog results beyond Accepted/Rejected.
enum { result_back = 2, result_all = 3 };

QDialog* make_page(QWidget* parent, const char* title) {
    auto* d = new QDialog(parent);
    d->setWindowTitle(title);
    d->setModal(true);
    d->setAttribute(Qt::WA_DeleteOnClose, false);
    return d;
}

QPushButton* add_button(QHBoxLayout* row, QDialog* d, const char* text, int result) {
    auto* b = new QPushButton(text, d);
    b->setAutoDefault(false);
    row->addWidget(b);
    QObject::connect(b, &QPushButton::clicked, d, [d, result] { d->done(result); });
    return b;
}

QHBoxLayout* button_row(QVBoxLayout* v) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    v->addLayout(row);
    return row;
}

page_result to_page_result(int r) {
    if (r == QDialog::Accepted) return page_result::next;
    if (r == result_back) return page_result::back;
    return page_result::cancel;
}

// A line edit with a Browse button that picks a folder.
QLineEdit* folder_field(QDialog* d, QGridLayout* g, int row, const char* label, const std::string& value) {
    g->addWidget(new QLabel(label, d), row, 0, 1, 2);
    auto* edit = new QLineEdit(qs(value), d);
    edit->setMinimumWidth(360);
    g->addWidget(edit, row + 1, 0);
    auto* browse = new QPushButton("Browse...", d);
    browse->setAutoDefault(false);
    g->addWidget(browse, row + 1, 1);
    QObject::connect(browse, &QPushButton::clicked, d, [d, edit] {
        QString dir = QFileDialog::getExistingDirectory(d, "Choose Directory", edit->text());
        if (!dir.isEmpty()) edit->setText(dir);
    });
    return edit;
}

}  // namespace

page_result qt_setup_pages::welcome() {
    std::unique_ptr<QDialog> d(make_page(parent_, "Welcome"));
    auto* v = new QVBoxLayout(d.get());
    v->addWidget(new QLabel("Welcome to the setup program of Quill W32 Telnet + SSH-1/2.", d.get()));
    v->addWidget(new QLabel("This program installs the terminal client for your user account.\n"
                            "It is strongly recommended that you close any running copy of the client\n"
                            "before continuing.",
                            d.get()));
    v->addWidget(new QLabel("Version 6.3", d.get()));
    auto* row = button_row(v);
    add_button(row, d.get(), "Next", QDialog::Accepted)->setDefault(true);
    add_button(row, d.get(), "Cancel", QDialog::Rejected);
    return to_page_result(d->exec());
}

page_result qt_setup_pages::agreement(const std::string& licence_text) {
    std::unique_ptr<QDialog> d(make_page(parent_, "License Agreement"));
    auto* v = new QVBoxLayout(d.get());
    v->addWidget(new QLabel("Please read the following license agreement. Do you accept all its terms?", d.get()));
    auto* text = new QPlainTextEdit(d.get());
    text->setReadOnly(true);
    text->setObjectName("licence");
    text->setPlainText(
        QString::fromUtf8(licence_text.data(), static_cast<qsizetype>(licence_text.size())).left(agreement_text_limit));
    // The licence comes broken into lines already; re-wrapping it leaves orphan words. Its own lines, in a fixed
    // pitch wide enough for 80 columns, with a horizontal scroll bar for anything longer.
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const int columns80 = text->fontMetrics().horizontalAdvance(QString(80, QLatin1Char('M')));
    text->setMinimumSize(columns80 + 2 * text->frameWidth() + text->verticalScrollBar()->sizeHint().width() + 8, 320);
    v->addWidget(text);
    auto* row = button_row(v);
    add_button(row, d.get(), "< Back", result_back);
    add_button(row, d.get(), "Yes", QDialog::Accepted)->setDefault(true);
    add_button(row, d.get(), "Cancel", QDialog::Rejected);
    return to_page_result(d->exec());
}

page_result qt_setup_pages::start(install_choices& choices) {
    std::unique_ptr<QDialog> d(make_page(parent_, "Start Installation"));
    auto* v = new QVBoxLayout(d.get());
    auto* g = new QGridLayout;
    v->addLayout(g);
    QLineEdit* dest = folder_field(d.get(), g, 0, "Destination Directory:", choices.destination);
    dest->setObjectName("destination");
    QLineEdit* folder = folder_field(d.get(), g, 2, "Program Folder:", choices.program_folder);
    folder->setObjectName("program_folder");
    auto* in_folder = new QCheckBox("Add program icon to the Program Folder", d.get());
    in_folder->setChecked(choices.add_to_program_folder);
    auto* on_desktop = new QCheckBox("Add program icon to the Desktop", d.get());
    on_desktop->setChecked(choices.add_to_desktop);
    v->addWidget(in_folder);
    v->addWidget(on_desktop);
    auto* row = button_row(v);
    add_button(row, d.get(), "< Back", result_back);
    add_button(row, d.get(), "Install", QDialog::Accepted)->setDefault(true);
    add_button(row, d.get(), "Cancel", QDialog::Rejected);
    const int r = d->exec();
    // The fields are kept for Back too, so the page reopens as the user left it.
    choices.destination = dest->text().trimmed().toStdString();
    choices.program_folder = folder->text().trimmed().toStdString();
    choices.add_to_program_folder = in_folder->isChecked();
    choices.add_to_desktop = on_desktop->isChecked();
    if (r == QDialog::Accepted && choices.destination.empty()) {
        error("Please choose a destination directory.");
        return start(choices);
    }
    return to_page_result(r);
}

void qt_setup_pages::completed(const std::function<void()>& view_readme) {
    std::unique_ptr<QDialog> d(make_page(parent_, "Installation Completed"));
    auto* v = new QVBoxLayout(d.get());
    v->addWidget(new QLabel("Quill W32 Telnet has been installed. Press Ok to start it.", d.get()));
    auto* row = button_row(v);
    auto* readme = new QPushButton("View README file", d.get());
    readme->setAutoDefault(false);
    row->addWidget(readme);
    QObject::connect(readme, &QPushButton::clicked, d.get(), [&view_readme] { view_readme(); });
    add_button(row, d.get(), "Ok", QDialog::Accepted)->setDefault(true);
    d->exec();
}

overwrite_answer qt_setup_pages::ask_overwrite(const std::string& path) {
    std::unique_ptr<QDialog> d(make_page(parent_, "Warning!"));
    auto* v = new QVBoxLayout(d.get());
    v->addWidget(new QLabel("File already exists. Should it be overwritten ?", d.get()));
    auto* name = new QLineEdit(qs(path), d.get());
    name->setReadOnly(true);
    name->setObjectName("file_name");
    name->setMinimumWidth(420);
    v->addWidget(name);
    auto* row = button_row(v);
    add_button(row, d.get(), "Yes", QDialog::Accepted);
    add_button(row, d.get(), "YES TO ALL", result_all);
    add_button(row, d.get(), "NO", QDialog::Rejected)->setDefault(true);
    switch (d->exec()) {
    case QDialog::Accepted: return overwrite_answer::yes;
    case result_all: return overwrite_answer::yes_to_all;
    default: return overwrite_answer::no;  // NO or the page closed
    }
}

bool qt_setup_pages::uninstall(std::string& home) {
    std::unique_ptr<QDialog> d(make_page(parent_, "Uninstallation"));
    auto* v = new QVBoxLayout(d.get());
    auto* g = new QGridLayout;
    v->addLayout(g);
    QLineEdit* edit = folder_field(d.get(), g, 0, "Home catalog for Quill W32 Telnet:", home);
    edit->setObjectName("home");
    auto* row = button_row(v);
    add_button(row, d.get(), "Ok", QDialog::Accepted)->setDefault(true);
    add_button(row, d.get(), "Cancel", QDialog::Rejected);
    if (d->exec() != QDialog::Accepted) return false;
    home = edit->text().trimmed().toStdString();
    return !home.empty();
}

void qt_setup_pages::farewell() {
    std::unique_ptr<QDialog> d(make_page(parent_, "Farewell"));
    auto* v = new QVBoxLayout(d.get());
    v->addWidget(new QLabel("Quill W32 Telnet has been removed from Your Computer.", d.get()));
    auto* row = button_row(v);
    add_button(row, d.get(), "Ok", QDialog::Accepted)->setDefault(true);
    d->exec();
}

void qt_setup_pages::error(const std::string& text) {
    // Also for the log of a scripted (/S) run.
    std::fprintf(stderr, "%s\n", text.c_str());
    QMessageBox::critical(parent_, "Error", qs(text));
}

void qt_setup_pages::warning(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    QMessageBox::warning(parent_, "Setup", qs(text));
}

namespace {
// The opener reports its failure after the fact, when the page that asked may be gone: a message of its own.
void open_with_desktop(const std::filesystem::path& target) {
    const QString path = QString::fromStdString(target.string());
    launch::open_file(path, {}, [path](const QString& why) {
        const QString text = launch::not_opened_text(path, why, path);
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        QMessageBox::critical(QApplication::activeWindow(), "Error", text);
    });
}
}  // namespace

bool qt_setup_shell::view_file(const std::filesystem::path& file) {
    open_with_desktop(file);
    return true;
}

bool qt_setup_shell::open_folder(const std::filesystem::path& folder) {
    open_with_desktop(folder);
    return true;
}

bool qt_setup_shell::start_program(const std::filesystem::path& program, const std::filesystem::path& working_dir) {
    return QProcess::startDetached(QString::fromStdString(program.string()), {},
                                   QString::fromStdString(working_dir.string()));
}
