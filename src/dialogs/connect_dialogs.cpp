#include "dialogs/connect_dialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "config/settings.h"
#include "dialogs/connect_logic.h"

namespace {
constexpr int key_file_limit = 260;  // room for any sensible path to a key
}  // namespace

// ---------------------------------------------------------------------------------------------------------------
gethost_ad::gethost_ad(Settings& s, const advanced_values& in, QWidget* parent)
    : settings_dialog(QStringLiteral("Connect - Advanced"), QStringLiteral("advanced"), parent), s_(s), out_(in) {
    add_edit(1001, QStringLiteral("Port:"), 20, in.port_text);
    add_check(1005, QStringLiteral("Use as default &Host"), in.autoconnect);
    add_check(1007, QStringLiteral("&Exit on session termination"), in.exit);
    add_check(1008, QStringLiteral("Confirm Exit"), in.confirm);
    add_check(1006, QStringLiteral("Secure Shell (SSH) - use Port 22"), s.ssh != 0);

    auto* box = new QGroupBox(QStringLiteral("SSH Options"), this);
    auto* lay = new QHBoxLayout(box);
    auto* ciphers = new QVBoxLayout;
    auto* versions = new QVBoxLayout;
    lay->addLayout(ciphers);
    lay->addLayout(versions);
    auto* enc = new QButtonGroup(this);
    enc->setObjectName(QStringLiteral("encryption"));
    const char* enc_text[] = {"DES Encryption", "3-DES Encryption", "BlowFish Encryption"};
    for (int i = 0; i < 3; ++i) {
        auto* r = new QRadioButton(QString::fromLatin1(enc_text[i]), box);
        set_control_id(r, 1026 + i);
        enc->addButton(r, i);
        ciphers->addWidget(r);
        r->setChecked(s.ssh_encryption == i);
    }
    auto* ver = new QButtonGroup(this);
    ver->setObjectName(QStringLiteral("version"));
    const char* ver_text[] = {"SSH-1", "SSH-2"};
    for (int i = 0; i < 2; ++i) {
        auto* r = new QRadioButton(QString::fromLatin1(ver_text[i]), box);
        set_control_id(r, 1029 + i);
        ver->addButton(r, i);
        versions->addWidget(r);
        r->setChecked(s.ssh_type_1_2 == i);
    }
    versions->addStretch();
    add_widget(box);
    add_check(1031, QStringLiteral("SSH-2: &negotiate modern algorithms (off: the fixed legacy suite only)"),
              s.ssh_algorithms != 0);
    add_check(1032, QStringLiteral("Check SSH host &keys against known_hosts"), s.ssh_check_host_key != 0);
    auto* key = add_edit(1033, QStringLiteral("SSH key file (empty: ~/.ssh/id_ed25519, id_ecdsa, id_rsa):"),
                         key_file_limit, to_qstring(s.ssh_key_file));
    key->setMinimumWidth(320);
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    set_control_id(browse, 1034);
    browse->setAutoDefault(false);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(browse);
    form_->addRow(row);
    connect(browse, &QPushButton::clicked, this, [this, key] {
        // Start beside the chosen file, or where OpenSSH keeps keys.
        const QString now = key->text();
        const QString dir = now.isEmpty() ? QDir::homePath() + QStringLiteral("/.ssh") : QFileInfo(now).absolutePath();
        QFileDialog dlg(this, QStringLiteral("SSH key file"), dir);
        dlg.setFileMode(QFileDialog::ExistingFile);
        dlg.setOption(QFileDialog::DontUseNativeDialog);
        dlg.setFilter(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty())
            set_limited_text(key, dlg.selectedFiles().front());
    });
    add_check(1035, QStringLiteral("Use &only this key file"), s.ssh_identities_only != 0);
    finish();
}

void gethost_ad::store() {
    out_.port_text = control<QLineEdit>(1001)->text();
    out_.autoconnect = control<QCheckBox>(1005)->isChecked();
    out_.exit = control<QCheckBox>(1007)->isChecked();
    out_.confirm = control<QCheckBox>(1008)->isChecked();
    s_.ssh = control<QCheckBox>(1006)->isChecked() ? 1 : 0;
    // An unticked group (stored value out of range) keeps the stored choice.
    if (int id = findChild<QButtonGroup*>(QStringLiteral("encryption"))->checkedId(); id >= 0) s_.ssh_encryption = id;
    if (int id = findChild<QButtonGroup*>(QStringLiteral("version"))->checkedId(); id >= 0) s_.ssh_type_1_2 = id;
    s_.ssh_algorithms = control<QCheckBox>(1031)->isChecked() ? 1 : 0;
    s_.ssh_check_host_key = control<QCheckBox>(1032)->isChecked() ? 1 : 0;
    s_.ssh_key_file = to_std(control<QLineEdit>(1033)->text());
    s_.ssh_identities_only = control<QCheckBox>(1035)->isChecked() ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------------------------
gethost::gethost(Settings& s, QWidget* parent)
    : settings_dialog(QStringLiteral("Connect"), QStringLiteral("connect"), parent), s_(s) {
    auto* label = new QLabel(QStringLiteral("Enter Host Name or IP Address:"), this);
    add_widget(label);
    combo_ = new QComboBox(this);
    set_control_id(combo_, 1016);
    combo_->setEditable(true);
    combo_->setInsertPolicy(QComboBox::NoInsert);
    // The toolkit's completer would turn "UNIX1" into the listed "unix1" or "foo" into "foobar": the host is
    // kept exactly as typed.
    combo_->setCompleter(nullptr);
    combo_->setMinimumWidth(280);
    for (const auto& h : connect_logic::history_choices(s.host_hist)) combo_->addItem(to_qstring(h));
    track(combo_->lineEdit(), 64, to_qstring(s.host_name));
    // The combo would cut a history entry to the edit's current length; show it whole.
    connect(combo_, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (i >= 0) set_limited_text(combo_->lineEdit(), combo_->itemText(i));
    });
    label->setBuddy(combo_);
    add_widget(combo_);
    auto* adv = new QPushButton(QStringLiteral("&Advanced..."), this);
    set_control_id(adv, 1013);
    adv->setAutoDefault(false);
    connect(adv, &QPushButton::clicked, this, &gethost::advanced);
    add_widget(adv);
    finish();

    values_.port_text = QString::number(s.port);
    values_.autoconnect = s.autoconnect != 0;
    values_.exit = s.exit != 0;
    values_.confirm = s.confirm != 0;
    combo_->setFocus();
    combo_->lineEdit()->selectAll();
}

void gethost::advanced() {
    gethost_ad dlg(s_, values_, this);
    if (dlg.exec() != QDialog::Accepted) return;
    values_ = dlg.values();
    const auto port = connect_logic::decimal_scan(to_std(values_.port_text));
    if (s_.ssh && port.value_or(-1) != 22) hooks().message(this, QString::fromLatin1(ssh_port_warning_text));
}

void gethost::store() {
    s_.host_name = to_std(combo_->currentText());
    if (auto p = connect_logic::decimal_scan(to_std(values_.port_text))) s_.port = *p;
    s_.autoconnect = values_.autoconnect ? 1 : 0;
    s_.exit = values_.exit ? 1 : 0;
    s_.confirm = values_.confirm ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------------------------
void connect_command(Settings& s, connect_actions& a) {
    a.apply_modes(s.auto_wrap != 0, s.new_line != 0);
    if (a.connected()) {
        a.message(one_connection_text);
        return;
    }
    if (a.direct_connect() && s.port != 0) {
        a.connect_to(s.host_name, s.port);
        a.repaint();
        return;
    }
    if (!a.ask_host(s)) return;
    connect_logic::remember_host(s.host_hist, s.host_name);
    connect_logic::split_host_port(s.host_name, s.port);
    a.connect_to(s.host_name, s.port);
    a.repaint();
}
