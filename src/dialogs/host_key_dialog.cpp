#include "dialogs/host_key_dialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QString q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }
}  // namespace

host_key_dialog::host_key_dialog(const QString& explanation, const QString& host, const QString& type,
                                 const QString& fingerprint, QWidget* parent,
                                 const ssh::host_certificate_facts* certificate)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Unknown host key"));
    auto* outer = new QVBoxLayout(this);
    auto* text = new QLabel(explanation, this);
    text->setWordWrap(true);
    text->setTextFormat(Qt::PlainText);  // the host name comes from the user or DNS: never markup
    outer->addWidget(text);

    auto* form = new QFormLayout;
    auto add = [this, form](const QString& label, const QString& value, const char* name) {
        auto* v = new QLabel(value, this);
        v->setObjectName(QLatin1String(name));
        v->setTextFormat(Qt::PlainText);
        v->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(label, v);
        return v;
    };
    add(QStringLiteral("Host:"), host, "host");
    add(QStringLiteral("Key type:"), type, "type");
    add(QStringLiteral("Fingerprint:"), fingerprint, "fingerprint")
        ->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    if (certificate) {
        add(QStringLiteral("Certificate ID:"), q(certificate->key_id), "certificate_id");
        add(QStringLiteral("Certificate serial:"), QString::number(certificate->serial), "certificate_serial");
        add(QStringLiteral("Signed by CA:"), q(certificate->ca_type + " " + certificate->ca_fingerprint),
            "ca_fingerprint")
            ->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    }
    outer->addLayout(form);

    auto* buttons = new QDialogButtonBox(this);
    auto* once = buttons->addButton(QStringLiteral("Accept once"), QDialogButtonBox::AcceptRole);
    auto* remember = buttons->addButton(QStringLiteral("Accept and remember"), QDialogButtonBox::AcceptRole);
    auto* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    for (auto* b : {once, remember}) b->setAutoDefault(false);
    cancel->setDefault(true);
    cancel->setFocus();
    connect(once, &QPushButton::clicked, this, [this] {
        answer_ = ssh::host_key_answer::accept_once;
        QDialog::accept();
    });
    connect(remember, &QPushButton::clicked, this, [this] {
        answer_ = ssh::host_key_answer::accept_and_remember;
        QDialog::accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(this, &QDialog::rejected, this, [this] { answer_ = ssh::host_key_answer::cancel; });
    outer->addWidget(buttons);
}

ssh::host_key_answer ask_host_key(std::string_view explanation, std::string_view host, std::string_view type,
                                  std::string_view fingerprint, QWidget* parent,
                                  const ssh::host_certificate_facts* certificate) {
    host_key_dialog dlg(q(explanation), q(host), q(type), q(fingerprint), parent, certificate);
    dlg.exec();
    return dlg.answer();
}
