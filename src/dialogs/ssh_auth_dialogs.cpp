#include "dialogs/ssh_auth_dialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QVBoxLayout>
#include <chrono>
#include <future>
#include <thread>

#include "session/profile.h"
#include "dialogs/settings_dialogs.h"

namespace {

QString from_utf8(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

// Server and file texts never become markup or mnemonics.
QLabel* plain_label(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    return l;
}

std::string take_text(QLineEdit* e) {
    std::string out = e->text().toStdString();
    e->clear();
    return out;
}

void add_buttons(QDialog* d, QVBoxLayout* outer) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, d);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, d, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, d, &QDialog::reject);
    outer->addWidget(buttons);
}

}  // namespace

key_passphrase_dialog::key_passphrase_dialog(const QString& key_file, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Key passphrase"));
    auto* outer = new QVBoxLayout(this);
    auto* label = plain_label(QStringLiteral("Passphrase for key %1:").arg(key_file), this);
    label->setObjectName(QStringLiteral("question"));
    outer->addWidget(label);
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("passphrase"));
    edit_->setEchoMode(QLineEdit::Password);
    edit_->setMinimumWidth(320);
    outer->addWidget(edit_);
    add_buttons(this, outer);
    edit_->setFocus();
}

std::string key_passphrase_dialog::take() { return take_text(edit_); }

keyboard_interactive_dialog::keyboard_interactive_dialog(const QString& name, const QString& instruction,
                                                         const std::vector<ssh::kbd_prompt>& prompts, QWidget* parent)
    : QDialog(parent) {
    // Servers often send no name; the title still says what is being asked.
    setWindowTitle(name.isEmpty() ? QStringLiteral("Sign on to the host") : name);
    auto* outer = new QVBoxLayout(this);
    if (!instruction.isEmpty()) {
        auto* l = plain_label(instruction, this);
        l->setObjectName(QStringLiteral("instruction"));
        outer->addWidget(l);
    }
    auto* form = new QFormLayout;
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    for (std::size_t i = 0; i < prompts.size(); ++i) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QStringLiteral("answer%1").arg(i));
        e->setEchoMode(prompts[i].echo ? QLineEdit::Normal : QLineEdit::Password);
        e->setMinimumWidth(240);
        form->addRow(plain_label(from_utf8(prompts[i].text), this), e);
        edits_.push_back(e);
    }
    outer->addLayout(form);
    add_buttons(this, outer);
    if (!edits_.empty()) edits_.front()->setFocus();
}

std::vector<std::string> keyboard_interactive_dialog::take() {
    std::vector<std::string> out;
    out.reserve(edits_.size());
    for (auto* e : edits_) out.push_back(take_text(e));
    return out;
}

bool ask_sign_on_password(ssh_profile& s, QWidget* parent) {
    const std::string user = s.ssh_user;
    getssh dlg(s, parent);
    dlg.control<QLineEdit>(1000)->setReadOnly(true);
    dlg.control<QLineEdit>(1001)->setFocus();
    const bool ok = dlg.exec() == QDialog::Accepted;
    s.ssh_user = user;
    return ok;
}

std::optional<std::string> ask_key_passphrase(std::string_view key_file, QWidget* parent) {
    key_passphrase_dialog dlg(from_utf8(key_file), parent);
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    return dlg.take();
}

std::optional<std::vector<std::string>> ask_keyboard_interactive(std::string_view name, std::string_view instruction,
                                                                 const std::vector<ssh::kbd_prompt>& prompts,
                                                                 QWidget* parent) {
    keyboard_interactive_dialog dlg(from_utf8(name), from_utf8(instruction), prompts, parent);
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    return dlg.take();
}

bool run_with_progress(const QString& text, const std::function<void(const std::atomic<bool>& cancel)>& work,
                       QWidget* parent) {
    std::atomic<bool> cancel{false}, finished{false};
    QProgressDialog dlg(QString(), QStringLiteral("Cancel"), 0, 0, parent);  // no range: a busy indicator
    dlg.setLabel(plain_label(text, &dlg));                                   // a file name is no markup
    dlg.setWindowTitle(QStringLiteral("Please wait"));
    dlg.setWindowModality(Qt::ApplicationModal);
    dlg.setAutoClose(false);
    dlg.setAutoReset(false);
    std::promise<void> done;
    std::future<void> ended = done.get_future();
    std::thread worker([&] {
        work(cancel);
        finished = true;
        done.set_value();
        // Queued to the dialog's thread; dropped with the dialog should it be gone before it is delivered.
        QMetaObject::invokeMethod(
            &dlg, [&dlg] { dlg.accept(); }, Qt::QueuedConnection);
    });
    // A short wait that nobody notices spares a dialog that would only flash.
    if (ended.wait_for(std::chrono::milliseconds(250)) != std::future_status::ready) dlg.exec();
    if (!finished) cancel = true;
    worker.join();
    return !cancel;
}
