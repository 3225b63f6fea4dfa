#include "dialogs/tunnels_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include "config/settings.h"
#include "forward/forward_rule.h"

namespace {
constexpr int field_limit = 300;  // a bracketed address and a port with room to spare
constexpr fwd::forward_kind kinds[] = {fwd::forward_kind::local, fwd::forward_kind::remote, fwd::forward_kind::dynamic};

void add_item(QListWidget* list, const fwd::forward_rule& s) {
    auto* item = new QListWidgetItem(to_qstring(fwd::describe_forward(s)), list);
    item->setData(Qt::UserRole, to_qstring(fwd::format_forward(s)));
}
}  // namespace

gethost_tunnels::gethost_tunnels(Settings& s, QWidget* parent, status_fn active)
    : settings_dialog(QStringLiteral("Connect - Tunnels"), QStringLiteral("tunnels"), parent),
      s_(s),
      active_(std::move(active)) {
    list_ = new QListWidget(this);
    set_control_id(list_, 1050);
    const fwd::forward_list stored = fwd::parse_forwards(s.ssh_forwards);
    for (const auto& f : stored.rules) add_item(list_, f);
    add_row(QStringLiteral("Forwarded ports (SSH-2):"), list_);
    // Entries that cannot be read are dropped on OK; say which, before that happens.
    QString ignored;
    for (const auto& e : stored.errors)
        ignored += QStringLiteral("Ignored: %1 (%2)\n").arg(to_qstring(e.entry), to_qstring(e.why));
    ignored_ = new QLabel(ignored.trimmed(), this);
    ignored_->setVisible(!ignored.isEmpty());
    add_widget(ignored_);

    kind_ = new QComboBox(this);
    set_control_id(kind_, 1051);
    kind_->addItems({QStringLiteral("Local (a port here reaches a host over there)"),
                     QStringLiteral("Remote (a port on the host reaches one here)"),
                     QStringLiteral("Dynamic (a SOCKS proxy here)")});
    add_row(QStringLiteral("Kind:"), kind_);
    listen_ = add_edit(1052, QStringLiteral("Listen on ([address:]port):"), field_limit, QString());
    listen_->setPlaceholderText(QStringLiteral("8080 (127.0.0.1 unless an address is given)"));
    destination_ = add_edit(1053, QStringLiteral("Destination (host:port):"), field_limit, QString());
    destination_->setPlaceholderText(QStringLiteral("127.0.0.1:80"));
    connect(kind_, &QComboBox::currentIndexChanged, this, &gethost_tunnels::kind_chosen);

    auto* row = new QHBoxLayout;
    auto* add = new QPushButton(QStringLiteral("A&dd"), this);
    set_control_id(add, 1054);
    auto* remove = new QPushButton(QStringLiteral("&Remove"), this);
    set_control_id(remove, 1055);
    for (auto* b : {add, remove}) {
        b->setAutoDefault(false);
        row->addWidget(b);
    }
    row->addStretch();
    form_->addRow(row);
    connect(add, &QPushButton::clicked, this, &gethost_tunnels::add_forward);
    connect(remove, &QPushButton::clicked, this, &gethost_tunnels::remove_forward);

    auto* agent = add_check(1056, QStringLiteral("Forward the SSH &agent to the host"), s.ssh_agent_forward != 0);
    connect(agent, &QCheckBox::toggled, this, [this](bool on) {
        if (on) hooks().message(this, QString::fromLatin1(agent_forward_warning_text));
    });
    if (active_) {
        add_widget(new QLabel(QStringLiteral("Changes apply from the next connection."), this));
        active_list_ = new QListWidget(this);
        set_control_id(active_list_, 1057);
        add_row(QStringLiteral("Active tunnels:"), active_list_);
        refresh_active();
        auto* tick = new QTimer(this);
        connect(tick, &QTimer::timeout, this, &gethost_tunnels::refresh_active);
        tick->start(1000);
    }
    finish();
}

QString gethost_tunnels::status_text(const fwd::forwarder::status& st) {
    return QStringLiteral("%1  %2, %3 open, %4 B sent, %5 B received")
        .arg(to_qstring(st.what), to_qstring(st.state))
        .arg(st.open)
        .arg(st.sent)
        .arg(st.received);
}

void gethost_tunnels::refresh_active() {
    if (!active_list_) return;
    const auto all = active_();
    QStringList rows;
    for (const auto& st : all) rows << status_text(st);
    if (rows.isEmpty()) rows << QStringLiteral("(none)");
    const int at = active_list_->currentRow();
    active_list_->clear();
    active_list_->addItems(rows);
    active_list_->setCurrentRow(at);
}

void gethost_tunnels::kind_chosen() {
    const bool dynamic = kinds[kind_->currentIndex()] == fwd::forward_kind::dynamic;
    destination_->setEnabled(!dynamic);
}

void gethost_tunnels::add_forward() {
    const fwd::forward_kind kind = kinds[kind_->currentIndex()];
    std::string arg = to_std(listen_->text().trimmed());
    if (kind != fwd::forward_kind::dynamic) arg += ":" + to_std(destination_->text().trimmed());
    std::string why;
    const auto rule = fwd::parse_forward_argument(kind, arg, &why);
    if (!rule) {
        hooks().message(this, QStringLiteral("This forward cannot be used: %1.").arg(to_qstring(why)));
        return;
    }
    if (static_cast<std::size_t>(list_->count()) >= fwd::max_forwards) {
        hooks().message(this, QStringLiteral("At most %1 forwards can be kept.").arg(fwd::max_forwards));
        return;
    }
    add_item(list_, *rule);
    listen_->clear();
    destination_->clear();
}

void gethost_tunnels::remove_forward() { delete list_->currentItem(); }

void gethost_tunnels::store() {
    std::string text;
    for (int i = 0; i < list_->count(); ++i) {
        if (!text.empty()) text += ',';
        text += to_std(list_->item(i)->data(Qt::UserRole).toString());
    }
    s_.ssh_forwards = text;
    s_.ssh_agent_forward = control<QCheckBox>(1056)->isChecked() ? 1 : 0;
}
