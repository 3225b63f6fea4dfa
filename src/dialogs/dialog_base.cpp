#include "dialogs/dialog_base.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "adapters/launch.h"

dialog_hooks& hooks() {
    static dialog_hooks h{
        [](QWidget* parent, const QString& text) {
            QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text, QMessageBox::Ok, parent);
            box.exec();
        },
        [](const QUrl& url) {
            const QString path = url.toLocalFile();
            launch::start(launch::opener(), {url.toString(QUrl::FullyEncoded)}, [path](const QString& why) {
                hooks().message(QApplication::activeWindow(),
                                launch::not_opened_text(QStringLiteral("The help document"), why, path));
            });
        },
    };
    return h;
}

#ifndef QTELNET_SOURCE_DIR
#define QTELNET_SOURCE_DIR ""
#endif

QString dialog_help_path() {
    const QString dir = QCoreApplication::applicationDirPath();
    const QStringList candidates{
        dir + "/qtelnet.html",
        dir + "/help/qtelnet.html",
        dir + "/../share/qtelnet/help/qtelnet.html",
        QStringLiteral(QTELNET_SOURCE_DIR) + "/dist/help/qtelnet.html",
    };
    for (const auto& c : candidates)
        if (c.startsWith('/') && QFileInfo(c).isFile()) return QFileInfo(c).canonicalFilePath();
    return QDir::cleanPath(dir + "/help/qtelnet.html");
}

void open_dialog_help(const QString& anchor) {
    QUrl url = QUrl::fromLocalFile(dialog_help_path());
    url.setFragment(anchor);
    hooks().open_url(url);
}

void limit_length(QLineEdit* edit, int limit) {
    edit->setProperty("limit", limit);
    auto fit = [edit, limit] { edit->setMaxLength(std::max(limit, static_cast<int>(edit->text().size()))); };
    QObject::connect(edit, &QLineEdit::textChanged, edit, fit);
    fit();
}

void set_limited_text(QLineEdit* edit, const QString& text) {
    const int limit = edit->property("limit").isValid() ? edit->property("limit").toInt() : 32767;
    edit->setMaxLength(std::max(limit, static_cast<int>(text.size())));
    edit->setText(text);
}

QString to_qstring(const std::string& s) { return QString::fromStdString(s); }
std::string to_std(const QString& s) { return s.toStdString(); }

void set_control_id(QWidget* w, int id) { w->setObjectName(QStringLiteral("c%1").arg(id)); }

settings_dialog::settings_dialog(const QString& title, const QString& help_anchor, QWidget* parent)
    : QDialog(parent), anchor_(help_anchor) {
    setWindowTitle(title);
    setModal(true);
    outer_ = new QVBoxLayout(this);
    form_ = new QFormLayout;
    outer_->addLayout(form_);
}

void settings_dialog::track(QLineEdit* edit, int limit, const QString& text) {
    limit_length(edit, limit);
    set_limited_text(edit, text);
    limited_.push_back({edit, limit});
}

QLineEdit* settings_dialog::add_edit(int id, const QString& label, int limit, const QString& text) {
    auto* e = new QLineEdit(this);
    set_control_id(e, id);
    track(e, limit, text);
    add_row(label, e);
    return e;
}

QCheckBox* settings_dialog::add_check(int id, const QString& label, bool on) {
    auto* c = new QCheckBox(label, this);
    set_control_id(c, id);
    c->setChecked(on);
    add_widget(c);
    return c;
}

void settings_dialog::add_row(const QString& label, QWidget* w) { form_->addRow(label, w); }
void settings_dialog::add_widget(QWidget* w) { form_->addRow(w); }

void settings_dialog::finish() {
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
    connect(buttons_, &QDialogButtonBox::accepted, this, &settings_dialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &settings_dialog::reject);
    connect(buttons_, &QDialogButtonBox::helpRequested, this, &settings_dialog::help);
    outer_->addWidget(buttons_);
}

bool settings_dialog::check_lengths() {
    for (const auto& f : limited_) {
        if (f.edit->text().size() > f.limit) {
            hooks().message(this, QStringLiteral("Enter no more than %1 characters.").arg(f.limit));
            f.edit->setFocus();
            f.edit->selectAll();
            return false;
        }
    }
    return true;
}

void settings_dialog::accept() {
    if (!check_lengths() || !validate()) return;
    store();
    QDialog::accept();
}

void settings_dialog::help() { open_dialog_help(anchor_); }

void settings_dialog::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_F1) {
        help();
        return;
    }
    QDialog::keyPressEvent(e);
}
