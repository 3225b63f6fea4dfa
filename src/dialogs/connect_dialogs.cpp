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
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "config/settings.h"
#include "config/settings_store.h"
#include "dialogs/connect_logic.h"
#include "dialogs/tunnels_dialog.h"

namespace {
constexpr int key_file_limit = 260;  // room for any sensible path to a key

QSpinBox* spin_box(QWidget* parent, int id, int value, int max, const QString& suffix) {
    auto* b = new QSpinBox(parent);
    set_control_id(b, id);
    b->setRange(0, max);
    b->setValue(std::clamp(value, 0, max));
    b->setSuffix(suffix);
    b->setSpecialValueText(QStringLiteral("never"));  // 0 turns each of them off
    return b;
}

// The protocol list offers SSH-2 first; rows are not the stored protocol numbers.
constexpr sessions::protocol protocol_rows[] = {sessions::protocol::ssh2, sessions::protocol::ssh1,
                                                sessions::protocol::telnet};
constexpr const char* protocol_labels[] = {"SSH-2", "SSH-1", "Telnet"};

int row_of(sessions::protocol p) {
    for (int i = 0; i < 3; ++i)
        if (protocol_rows[i] == p) return i;
    return 0;
}

sessions::protocol protocol_at(int row) { return row >= 0 && row < 3 ? protocol_rows[row] : protocol_rows[0]; }

// What Advanced and Tunnels edit, from the draft into the record a connection starts from.
void take_draft(const Settings& d, Settings& s) {
    s.ssh = d.ssh;
    s.ssh_encryption = d.ssh_encryption;
    s.ssh_type_1_2 = d.ssh_type_1_2;
    s.ssh_algorithms = d.ssh_algorithms;
    s.ssh_check_host_key = d.ssh_check_host_key;
    s.ssh_key_file = d.ssh_key_file;
    s.ssh_identities_only = d.ssh_identities_only;
    s.ssh_keepalive = d.ssh_keepalive;
    s.ssh_keepalive_max = d.ssh_keepalive_max;
    s.telnet_keepalive = d.telnet_keepalive;
    s.auto_reconnect = d.auto_reconnect;
    s.ssh_forwards = d.ssh_forwards;
    s.ssh_agent_forward = d.ssh_agent_forward;
}
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
    add_edit(1050, QStringLiteral("SSH-2: &jump hosts (user@host:port, ...; empty: straight to the host):"), 255,
             to_qstring(s.ssh_proxy_jump))
        ->setMinimumWidth(320);
    add_row(QStringLiteral("SSH-2: keep-alive every"),
            spin_box(this, 1036, s.ssh_keepalive, 3600, QStringLiteral(" s")));
    add_row(QStringLiteral("Close after"),
            spin_box(this, 1037, s.ssh_keepalive_max, 100, QStringLiteral(" unanswered keep-alives")));
    add_check(1038, QStringLiteral("Telnet: TCP &keep-alive"), s.telnet_keepalive != 0);
    add_check(1039, QStringLiteral("Reconnect &automatically after a lost connection"), s.auto_reconnect != 0);
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
    s_.ssh_proxy_jump = to_std(control<QLineEdit>(1050)->text());
    s_.ssh_keepalive = control<QSpinBox>(1036)->value();
    s_.ssh_keepalive_max = control<QSpinBox>(1037)->value();
    s_.telnet_keepalive = control<QCheckBox>(1038)->isChecked() ? 1 : 0;
    s_.auto_reconnect = control<QCheckBox>(1039)->isChecked() ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------------------------
gethost::gethost(Settings& s, QWidget* parent) : gethost(s, session_options{}, parent) {}

gethost::gethost(Settings& s, session_options sessions, QWidget* parent)
    : settings_dialog(QStringLiteral("Connect"), QStringLiteral("connect"), parent),
      s_(s),
      draft_(s),
      opt_(std::move(sessions)) {
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
    QStringList config_hosts;
    for (const std::string& h : opt_.ssh_hosts) {
        const QString name = to_qstring(h);
        if (combo_->findText(name, Qt::MatchFixedString | Qt::MatchCaseSensitive) < 0) combo_->addItem(name);
        config_hosts << name;
    }
    track(combo_->lineEdit(), 64, to_qstring(s.host_name));
    // The combo would cut a history entry to the edit's current length; show it whole.
    connect(combo_, &QComboBox::currentIndexChanged, this, [this, config_hosts](int i) {
        if (i < 0) return;
        set_limited_text(combo_->lineEdit(), combo_->itemText(i));
        if (protocol_ && config_hosts.contains(combo_->itemText(i)) &&
            protocol_at(protocol_->currentIndex()) == sessions::protocol::telnet)
            protocol_->setCurrentIndex(row_of(sessions::protocol::ssh2));
    });
    label->setBuddy(combo_);
    add_widget(combo_);

    port_ = add_edit(1040, QStringLiteral("Port:"), 20, QString::number(s.port));
    connect(port_, &QLineEdit::textEdited, this, [this] { port_typed_ = true; });
    protocol_ = new QComboBox(this);
    set_control_id(protocol_, 1041);
    for (const char* p : protocol_labels) protocol_->addItem(QString::fromLatin1(p));
    shown_ = sessions::protocol_of(s.ssh, s.ssh_type_1_2);
    // Nothing to connect to yet (no host, no history) and the record on the classic Telnet defaults: a first
    // connection is offered over SSH-2. A configuration with a host shows what it stored.
    const bool fresh = s.host_name.empty() && connect_logic::history_choices(s.host_hist).empty();
    if (fresh && shown_ == sessions::protocol::telnet && s.port == sessions::default_port(shown_)) {
        shown_ = sessions::protocol::ssh2;
        set_limited_text(port_, QString::number(sessions::default_port(shown_)));
    }
    protocol_->setCurrentIndex(row_of(shown_));
    connect(protocol_, &QComboBox::currentIndexChanged, this, &gethost::protocol_chosen);
    add_row(QStringLiteral("Protocol:"), protocol_);
    user_ = add_edit(1042, QStringLiteral("User name:"), 64, to_qstring(s.ssh_user));
    key_ = add_edit(1043, QStringLiteral("Key file:"), key_file_limit, to_qstring(s.ssh_key_file));
    term_ = add_edit(1044, QStringLiteral("Terminal type:"), 20, to_qstring(s.termtype));

    auto* adv = new QPushButton(QStringLiteral("&Advanced..."), this);
    set_control_id(adv, 1013);
    adv->setAutoDefault(false);
    connect(adv, &QPushButton::clicked, this, &gethost::advanced);
    auto* tunnels = new QPushButton(QStringLiteral("&Tunnels..."), this);
    set_control_id(tunnels, 1019);
    tunnels->setAutoDefault(false);
    connect(tunnels, &QPushButton::clicked, this, &gethost::tunnels);
    auto* more = new QHBoxLayout;
    more->addWidget(adv);
    more->addWidget(tunnels);
    more->addStretch();
    form_->addRow(more);

    if (opt_.store) {
        // The session list stands to the left of the fields it fills.
        auto* panel = new QWidget(this);
        auto* column = new QVBoxLayout(panel);
        column->setContentsMargins(0, 0, 0, 0);
        auto* title = new QLabel(QStringLiteral("Saved sessions:"), panel);
        list_ = new QListWidget(panel);
        set_control_id(list_, 1045);
        list_->setSelectionMode(QAbstractItemView::SingleSelection);
        title->setBuddy(list_);
        column->addWidget(title);
        column->addWidget(list_, 1);
        const std::pair<int, const char*> buttons[] = {{1046, "&New"},
                                                       {1047, "Sa&ve As..."},
                                                       {1048, "&Rename..."},
                                                       {1049, "&Delete"}};
        void (gethost::*const handlers[])() = {&gethost::new_session, &gethost::save_session_as,
                                               &gethost::rename_session, &gethost::delete_session};
        for (int i = 0; i < 4; ++i) {
            auto* b = new QPushButton(QString::fromLatin1(buttons[i].second), panel);
            set_control_id(b, buttons[i].first);
            b->setAutoDefault(false);
            connect(b, &QPushButton::clicked, this, handlers[i]);
            column->addWidget(b);
        }
        connect(list_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { pick(item->text()); });
        connect(list_, &QListWidget::currentTextChanged, this, [this](const QString& name) {
            update_buttons();
            if (!name.isEmpty()) pick(name);
        });
        // A mouse press makes the item current before it selects it: the buttons follow the selection.
        connect(list_, &QListWidget::itemSelectionChanged, this, &gethost::update_buttons);
        connect(list_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
            pick(item->text());
            chosen_ = to_std(item->text());
            accept();
            if (result() != QDialog::Accepted) chosen_.clear();
        });
        auto* row = new QHBoxLayout;
        outer_->removeItem(form_);
        form_->setParent(nullptr);
        row->addWidget(panel);
        row->addLayout(form_, 1);
        outer_->insertLayout(0, row);
        fill_list({});
    }
    finish();

    values_.port_text = port_->text();
    values_.autoconnect = s.autoconnect != 0;
    values_.exit = s.exit != 0;
    values_.confirm = s.confirm != 0;
    combo_->setFocus();
    combo_->lineEdit()->selectAll();
}

sessions::connection gethost::fields() const {
    sessions::connection c;
    c.host = to_std(combo_->currentText());
    c.port = connect_logic::decimal_scan(to_std(port_->text())).value_or(draft_.port);
    c.proto = protocol_at(protocol_->currentIndex());
    c.user = to_std(user_->text());
    c.key_file = to_std(key_->text());
    c.termtype = to_std(term_->text());
    return c;
}

void gethost::show_fields(const sessions::connection& c) {
    set_limited_text(combo_->lineEdit(), to_qstring(c.host));
    protocol_->setCurrentIndex(row_of(c.proto));
    set_limited_text(port_, QString::number(c.port));
    set_limited_text(user_, to_qstring(c.user));
    set_limited_text(key_, to_qstring(c.key_file));
    set_limited_text(term_, to_qstring(c.termtype));
    // What a session or New brings is nobody's typing.
    port_typed_ = false;
    warned_port_.clear();
}

void gethost::protocol_chosen() {
    const auto now = protocol_at(protocol_->currentIndex());
    if (now == shown_) return;
    shown_ = now;
    if (!port_typed_) set_limited_text(port_, QString::number(sessions::default_port(now)));
}

void gethost::pick(const QString& name) {
    if (!opt_.store) return;
    Settings r;
    // Picking a session in the list must not wake the desktop's keyring.
    read_configuration(r, *opt_.store, to_std(name), {}, false);
    start_draft(r, to_std(name));
}

void gethost::start_draft(const Settings& r, std::string session) {
    draft_ = r;
    session_ = std::move(session);
    show_fields(sessions::connection_of(r));
    values_.autoconnect = r.autoconnect != 0;
    values_.exit = r.exit != 0;
    values_.confirm = r.confirm != 0;
    values_.port_text = port_->text();
}

void gethost::fill_list(const QString& current) {
    const QSignalBlocker quiet(list_);
    list_->clear();
    for (const std::string& n : sessions::names(*opt_.store)) list_->addItem(to_qstring(n));
    const auto found = list_->findItems(current, Qt::MatchExactly);
    if (!current.isEmpty() && !found.isEmpty()) list_->setCurrentItem(found.front());
    update_buttons();
}

QString gethost::selected() const {
    if (!list_ || !list_->currentItem() || !list_->currentItem()->isSelected()) return {};
    return list_->currentItem()->text();
}

void gethost::update_buttons() {
    const bool one = !selected().isEmpty();
    control<QPushButton>(1047)->setEnabled(opt_.may_save);
    control<QPushButton>(1048)->setEnabled(opt_.may_save && one);
    control<QPushButton>(1049)->setEnabled(opt_.may_save && one);
}

void gethost::new_session() {
    if (list_) {
        const QSignalBlocker quiet(list_);
        list_->clearSelection();
        list_->setCurrentItem(nullptr);
        update_buttons();
    }
    // A new session runs in the configuration in use, but takes none of the tunnels chosen for another.
    Settings r = s_;
    sessions::apply(sessions::new_connection(protocol_at(protocol_->currentIndex())), r);
    r.ssh_forwards.clear();
    r.ssh_agent_forward = 0;
    start_draft(r, {});
    combo_->setFocus();
}

QString gethost::ask_name(const QString& title, const QString& start) {
    QInputDialog dlg(this);
    dlg.setWindowTitle(title);
    dlg.setLabelText(QStringLiteral("Session name:"));
    dlg.setTextValue(start);
    if (dlg.exec() != QDialog::Accepted) return {};
    return dlg.textValue();
}

void gethost::save_session_as() {
    if (!opt_.store || !opt_.may_save) return;
    const QString start = selected().isEmpty() ? combo_->currentText() : selected();
    const QString name = ask_name(QStringLiteral("Save Session As"), start);
    if (name.isEmpty()) return;
    // The whole record as it would run with what the dialog shows.
    Settings copy = draft_;
    apply_shown(copy);
    const auto done = sessions::save_as(*opt_.store, copy, to_std(name));
    if (done != sessions::outcome::done) {
        hooks().message(this, to_qstring(sessions::explain(done, to_std(name))));
        return;
    }
    session_ = sessions::clean_name(to_std(name));
    fill_list(to_qstring(session_));
}

void gethost::rename_session() {
    const QString from = selected();
    if (!opt_.store || !opt_.may_save || from.isEmpty()) return;
    const QString to = ask_name(QStringLiteral("Rename Session"), from);
    if (to.isEmpty() || to == from) return;
    const auto done = sessions::rename(*opt_.store, s_, to_std(from), to_std(to));
    if (done != sessions::outcome::done) {
        hooks().message(this,
                        to_qstring(sessions::explain(done, to_std(done == sessions::outcome::exists ? to : from))));
        return;
    }
    if (session_ == to_std(from)) session_ = sessions::clean_name(to_std(to));
    fill_list(to_qstring(sessions::clean_name(to_std(to))));
}

void gethost::delete_session() {
    const QString name = selected();
    if (!opt_.store || !opt_.may_save || name.isEmpty()) return;
    QMessageBox ask(QMessageBox::Question, windowTitle(), QStringLiteral("Delete the session %1?").arg(name),
                    QMessageBox::Yes | QMessageBox::No, this);
    ask.setDefaultButton(QMessageBox::No);
    if (ask.exec() != QMessageBox::Yes) return;
    const auto done = sessions::remove(*opt_.store, s_, to_std(name));
    if (done != sessions::outcome::done) {
        hooks().message(this, to_qstring(sessions::explain(done, to_std(name))));
        return;
    }
    if (session_ == to_std(name)) {
        // Gone from the store: what the fields show now runs in the configuration in use, with its own tunnels.
        Settings r = s_;
        sessions::apply(fields(), r);
        start_draft(r, {});
    }
    fill_list({});
}

void gethost::warn_port_once() {
    const bool ssh = protocol_at(protocol_->currentIndex()) != sessions::protocol::telnet;
    if (!connect_logic::ssh_port_warning(ssh, to_std(port_->text()), port_typed_) || warned_port_ == port_->text())
        return;
    warned_port_ = port_->text();
    hooks().message(this, QString::fromLatin1(ssh_port_warning_text));
}

void gethost::advanced() {
    // Advanced starts from what this dialog shows; its OK stores into the draft.
    Settings shown = draft_;
    const sessions::connection c = fields();
    sessions::set_protocol(shown, c.proto);
    shown.ssh_key_file = c.key_file;
    advanced_values in = values_;
    in.port_text = port_->text();
    gethost_ad dlg(shown, in, this);
    if (dlg.exec() != QDialog::Accepted) return;
    draft_ = shown;
    if (session_.empty()) {
        // The classic program kept these for the configuration in use even when Connect was cancelled.
        s_.ssh = shown.ssh;
        s_.ssh_encryption = shown.ssh_encryption;
        s_.ssh_type_1_2 = shown.ssh_type_1_2;
    }
    values_ = dlg.values();
    const bool typed_there = values_.port_text != in.port_text;
    set_limited_text(key_, to_qstring(draft_.ssh_key_file));
    if (typed_there) {
        set_limited_text(port_, values_.port_text);
        port_typed_ = true;
    }
    protocol_->setCurrentIndex(row_of(sessions::protocol_of(draft_.ssh, draft_.ssh_type_1_2)));
    values_.port_text = port_->text();
    warn_port_once();
}

void gethost::tunnels() {
    // Like Advanced: its OK stores into the draft.
    gethost_tunnels dlg(draft_, this);
    dlg.exec();
}

void gethost::store() {
    if (!chosen_.empty()) {
        // Connecting with a session: its stored values are the ones to run with.
        if (opt_.use)
            opt_.use(chosen_);
        else
            switch_configuration(s_, *opt_.store, chosen_);
        return;
    }
    warn_port_once();
    if (!session_.empty()) {
        // A picked session is the one connected with: its record runs, and is saved at exit, with the edits.
        if (opt_.use)
            opt_.use(session_);
        else
            switch_configuration(s_, *opt_.store, session_);
    }
    take_draft(draft_, s_);
    apply_shown(s_);
}

// The connection fields and Advanced's switches into a record (a port that is no number keeps the record's).
void gethost::apply_shown(Settings& s) const {
    sessions::apply(fields(), s);
    s.autoconnect = values_.autoconnect ? 1 : 0;
    s.exit = values_.exit ? 1 : 0;
    s.confirm = values_.confirm ? 1 : 0;
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
