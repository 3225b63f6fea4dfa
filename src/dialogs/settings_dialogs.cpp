#include "dialogs/settings_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPainter>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "config/settings.h"
#include "session/profile.h"
#include "dialogs/connect_logic.h"

number_field::number_field(int low, int high, QWidget* parent) : QSpinBox(parent), low_(low), high_(high) {
    // Room for any number of eight digits, so that what is typed stays as typed until OK.
    setRange(0, 99999999);
}

bool number_field::check(QWidget* dialog, const QString& what) {
    if (value() >= low_ && value() <= high_) return true;
    const QLocale l;
    hooks().message(dialog,
                    QStringLiteral("%1 takes a number from %2 to %3.").arg(what, l.toString(low_), l.toString(high_)));
    setFocus();
    selectAll();
    return false;
}

void number_field::stepBy(int steps) {
    setValue(std::clamp(value() + steps * singleStep(), low_, high_));
    selectAll();
}

namespace {

QString number_text(int v) { return QString::number(v); }

// A typed number replaces the stored one only when it scans as a decimal number.
void scan_into(const QLineEdit* e, int& target) {
    if (auto v = connect_logic::decimal_scan(to_std(e->text()))) target = *v;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------------
getproxy::getproxy(Settings& s, QWidget* parent)
    : settings_dialog(QStringLiteral("Proxy Configuration"), QStringLiteral("proxy"), parent), s_(s) {
    add_edit(1000, QStringLiteral("Proxy Host:"), 40, to_qstring(s.proxy_host));
    add_edit(1001, QStringLiteral("Proxy Port:"), 40, number_text(s.proxy_port));
    add_edit(1002, QStringLiteral("Proxy Syntax:"), 40, to_qstring(s.proxy_syntax));
    add_edit(1004, QStringLiteral("Proxy Return Key:"), 40, to_qstring(s.proxy_return));
    add_check(1005, QStringLiteral("Enable Proxy Server"), s.proxy_enable != 0);
    add_check(1006, QStringLiteral("Use  Protocol SOCKS  V. 4 "), s.proxy_socks_enable != 0);
    finish();
}

void getproxy::store() {
    s_.proxy_host = to_std(control<QLineEdit>(1000)->text());
    scan_into(control<QLineEdit>(1001), s_.proxy_port);
    s_.proxy_syntax = to_std(control<QLineEdit>(1002)->text());
    s_.proxy_return = to_std(control<QLineEdit>(1004)->text());
    s_.proxy_enable = control<QCheckBox>(1005)->isChecked() ? 1 : 0;
    // 5 (SOCKS 5, set in the settings file) stays while the box stays ticked; ticking it chooses SOCKS 4.
    s_.proxy_socks_enable = control<QCheckBox>(1006)->isChecked() ? (s_.proxy_socks_enable == 5 ? 5 : 1) : 0;
}

// ---------------------------------------------------------------------------------------------------------------
getauto::getauto(Settings& s, QWidget* parent)
    : settings_dialog(QStringLiteral("Auto - Login"), QStringLiteral("autologin"), parent), s_(s) {
    add_edit(1000, QStringLiteral("Search:"), 20, to_qstring(s.auto_search1));
    add_edit(1001, QStringLiteral("Response:"), 20, to_qstring(s.auto_response1));
    add_edit(1002, QStringLiteral("Search:"), 20, to_qstring(s.auto_search2));
    add_edit(1003, QStringLiteral("Response:"), 20, to_qstring(s.auto_response2));
    finish();
}

void getauto::store() {
    s_.auto_search1 = to_std(control<QLineEdit>(1000)->text());
    s_.auto_response1 = to_std(control<QLineEdit>(1001)->text());
    s_.auto_search2 = to_std(control<QLineEdit>(1002)->text());
    s_.auto_response2 = to_std(control<QLineEdit>(1003)->text());
}

// ---------------------------------------------------------------------------------------------------------------
const char* const getterm::term_type_choices[4] = {"vt220", "vt100", "xterm", "xterm-256color"};
const char* const getterm::todays_hosts_choice = "Today's hosts (xterm-256color, UTF-8)";

getterm::getterm(Settings& s, QWidget* parent)
    : settings_dialog(QStringLiteral("Terminal type"), QStringLiteral("terminal"), parent), s_(s) {
    auto* type = new QComboBox(this);
    set_control_id(type, 1010);
    type->setEditable(true);
    type->setInsertPolicy(QComboBox::NoInsert);
    type->setCompleter(nullptr);  // "xterm" typed stays "xterm", not the listed "xterm-256color"
    for (const char* t : term_type_choices) type->addItem(QString::fromLatin1(t));
    type->addItem(QString::fromUtf8(todays_hosts_choice));
    set_control_id(type->lineEdit(), 1000);
    // The listed entry the stored type matches is current, so that picking another one always changes it.
    type->setCurrentIndex(type->findText(to_qstring(s.termtype), Qt::MatchFixedString | Qt::MatchCaseSensitive));
    track(type->lineEdit(), 20, to_qstring(s.termtype));
    add_row(QStringLiteral("Terminal type:"), type);
    add_edit(1001, QStringLiteral("ENQ response: "), 20, to_qstring(s.myid));
    add_check(1005, QStringLiteral("Start in 80x132 screen size mode"), s.term_size == 132);
    add_check(1006, QStringLiteral("Ignore application key mode request"), s.ignore_app != 0);
    add_check(1007, QStringLiteral("Use keypad NumLock as a normal key"), s.numlock != 0);
    add_check(1008, QStringLiteral("Bell can be used."), s.bell != 0);
    auto* utf8 = add_check(1009, QStringLiteral("UTF-8 (host sends Unicode)"), s.utf8 != 0);
    QCheckBox* habits[4] = {
        add_check(1011, QStringLiteral("&Alt key sends Meta (ESC prefix)"), s.alt_meta != 0),
        add_check(1012, QStringLiteral("Mouse &wheel scrolls three lines"), s.wheel_lines > 1),
        add_check(1013, QStringLiteral("As&k before disconnecting"), s.confirm_disconnect != 0),
        add_check(1014, QStringLiteral("&Screen follows the window (rows and columns)"), s.screen_size == 1),
    };
    auto* locale =
        add_check(1016, QStringLiteral("Send the &locale (LANG, LC_*) to SSH-2 hosts"), s.ssh_send_locale != 0);
    auto* history = new number_field(scrollback_lines_min, scrollback_lines_max, this);
    set_control_id(history, 1015);
    history->setValue(clamp_scrollback(s.scrollback_lines));
    history->setSingleStep(100);
    history->setGroupSeparatorShown(true);
    history->setAccelerated(true);
    add_row(QStringLiteral("Scroll-&back lines:"), history);
    finish();
    const int profile = type->count() - 1;
    connect(type, &QComboBox::currentIndexChanged, this, [this, type, utf8, habits, locale, history, profile](int i) {
        if (i == profile) {
            // Shown as the plain type afterwards, so that choosing the profile again acts again.
            type->setCurrentIndex(type->findText(QStringLiteral("xterm-256color")));
            utf8->setChecked(true);
            for (QCheckBox* c : habits) c->setChecked(true);
            locale->setChecked(true);
            if (history->value() == Settings().scrollback_lines) history->setValue(todays_scrollback_lines);
            todays_picked_ = true;
        } else if (i >= 0) {
            set_limited_text(type->lineEdit(), type->itemText(i));
        }
    });
}

bool getterm::validate() { return control<number_field>(1015)->check(this, QStringLiteral("Scroll-back lines")); }

void getterm::store() {
    if (todays_picked_) {
        Settings today = s_;
        apply_todays_defaults(today, true);
        s_.color_fg = today.color_fg;
        s_.color_bg = today.color_bg;
        s_.color_bold = today.color_bold;
        s_.color_cursor = today.color_cursor;
        s_.bold_bright = today.bold_bright;
    }
    s_.termtype = to_std(control<QLineEdit>(1000)->text());
    s_.myid = to_std(control<QLineEdit>(1001)->text());
    s_.term_size = control<QCheckBox>(1005)->isChecked() ? 132 : 80;
    s_.ignore_app = control<QCheckBox>(1006)->isChecked() ? 1 : 0;
    s_.numlock = control<QCheckBox>(1007)->isChecked() ? 1 : 0;
    s_.bell = control<QCheckBox>(1008)->isChecked() ? 1 : 0;
    s_.utf8 = control<QCheckBox>(1009)->isChecked() ? 1 : 0;
    s_.alt_meta = control<QCheckBox>(1011)->isChecked() ? 1 : 0;
    // A larger step stored by hand stays.
    s_.wheel_lines = control<QCheckBox>(1012)->isChecked() ? std::max(s_.wheel_lines, 3) : 1;
    s_.confirm_disconnect = control<QCheckBox>(1013)->isChecked() ? 1 : 0;
    s_.screen_size = control<QCheckBox>(1014)->isChecked() ? 1 : 0;
    s_.scrollback_lines = control<QSpinBox>(1015)->value();
    s_.ssh_send_locale = control<QCheckBox>(1016)->isChecked() ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------------------------
getcursor::getcursor(Settings& s, QWidget* parent)
    : settings_dialog(QStringLiteral("Cursor"), QStringLiteral("cursor"), parent), s_(s) {
    list_ = new QListWidget(this);
    set_control_id(list_, 1010);
    list_->addItems({QStringLiteral("Full Block"), QStringLiteral("Half Block"), QStringLiteral("Underline")});
    if (s.cursortype >= 0 && s.cursortype < list_->count()) list_->setCurrentRow(s.cursortype);
    list_->setMaximumHeight(list_->sizeHintForRow(0) * 4 + 2 * list_->frameWidth());
    connect(list_, &QListWidget::itemDoubleClicked, this, [this] { accept(); });
    add_row(QStringLiteral("Shape:"), list_);
    add_check(1005, QStringLiteral("Cursor blinks twice every second."), s.blink_cursor != 0);
    finish();
}

void getcursor::store() {
    // No selection (an out-of-range stored shape) keeps the stored value.
    if (list_->currentRow() >= 0) s_.cursortype = list_->currentRow();
    s_.blink_cursor = control<QCheckBox>(1005)->isChecked() ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------------------------
namespace {

// A page with a few lines of text: A is the distance from the left edge, B from the top edge.
class margin_picture : public QWidget {
public:
    explicit margin_picture(QWidget* parent) : QWidget(parent) { setFixedSize(150, 170); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRect page(20, 10, 110, 150);
        p.fillRect(page, Qt::white);
        p.setPen(Qt::black);
        p.drawRect(page);
        const int left = page.left() + 30, top = page.top() + 34;
        p.setPen(QPen(Qt::gray, 2));
        for (int i = 0; i < 7; ++i) p.drawLine(left, top + i * 12, page.right() - 10 - (i % 3) * 12, top + i * 12);
        p.setPen(QPen(Qt::darkBlue, 1, Qt::DashLine));
        p.drawLine(left, page.top(), left, page.bottom());
        p.drawLine(page.left(), top - 6, page.right(), top - 6);
        p.setPen(QPen(Qt::red, 1));
        const int ay = page.top() + 110;
        p.drawLine(page.left(), ay, left, ay);
        p.drawText(QRect(page.left(), ay - 16, left - page.left(), 14), Qt::AlignCenter, QStringLiteral("A"));
        const int bx = page.left() + 70;
        p.drawLine(bx, page.top(), bx, top - 6);
        p.drawText(QRect(bx + 3, page.top() + 2, 14, top - 6 - page.top()), Qt::AlignVCenter, QStringLiteral("B"));
    }
};

}  // namespace

getmargin::getmargin(Settings& s, QWidget* parent)
    : settings_dialog(QStringLiteral("Margins"), QStringLiteral("margins"), parent), s_(s) {
    add_edit(1000, QStringLiteral("A = "), 4, number_text(s.x_margin));
    add_edit(1001, QStringLiteral("B = "), 4, number_text(s.y_margin));
    auto* pic = new margin_picture(this);
    pic->setObjectName(QStringLiteral("c157"));
    add_widget(pic);
    finish();
}

void getmargin::store() {
    scan_into(control<QLineEdit>(1000), s_.x_margin);
    scan_into(control<QLineEdit>(1001), s_.y_margin);
}

// ---------------------------------------------------------------------------------------------------------------
getkey::getkey(Settings& s, QWidget* parent)
    : settings_dialog(QStringLiteral("Select names of mapping files"), QStringLiteral("keymaps"), parent), s_(s) {
    add_edit(1000, QStringLiteral("Mapping file for Function keys:"), 80, to_qstring(s.keyname));
    add_edit(1001, QStringLiteral("Mapping file for data from host to Quill Telnet:"), 80, to_qstring(s.nettopc));
    add_edit(1002, QStringLiteral("Mapping file for data from Quill Telnet to host:"), 80, to_qstring(s.pctonet));
    form_->setRowWrapPolicy(QFormLayout::WrapAllRows);
    for (int id : {1000, 1001, 1002}) control<QLineEdit>(id)->setMinimumWidth(420);
    finish();
}

void getkey::store() {
    s_.keyname = to_std(control<QLineEdit>(1000)->text());
    s_.nettopc = to_std(control<QLineEdit>(1001)->text());
    s_.pctonet = to_std(control<QLineEdit>(1002)->text());
}

// ---------------------------------------------------------------------------------------------------------------
getssh::getssh(Settings& s, QWidget* parent) : getssh(s.ssh_user, s.ssh_password, s.ssh_default, parent) {}

getssh::getssh(ssh_profile& s, QWidget* parent) : getssh(s.ssh_user, s.ssh_password, s.ssh_default, parent) {}

getssh::getssh(std::string& user, std::string& password, int& remember, QWidget* parent)
    : settings_dialog(QStringLiteral("Sign on to the host"), QStringLiteral("signon"), parent),
      user_(user),
      password_(password),
      remember_(remember) {
    add_widget(new QLabel(QStringLiteral("User authentication is required."), this));
    add_edit(1000, QStringLiteral("Sign on as:"), 40, to_qstring(user));
    add_edit(1001, QStringLiteral("Password"), 40, to_qstring(password))->setEchoMode(QLineEdit::Password);
    add_check(1005, QStringLiteral("Remember Username and Password "), remember != 0);
    add_widget(new QLabel(QStringLiteral("(not much security in this option!)"), this));
    finish();
    control<QLineEdit>(1000)->setFocus();
}

void getssh::store() {
    user_ = to_std(control<QLineEdit>(1000)->text());
    password_ = to_std(control<QLineEdit>(1001)->text());
    remember_ = control<QCheckBox>(1005)->isChecked() ? 1 : 0;
}

bool session_sign_on(Settings& s, QWidget* parent) {
    getssh dlg(s, parent);
    return dlg.exec() == QDialog::Accepted;
}

bool session_sign_on(ssh_profile& s, QWidget* parent) {
    getssh dlg(s, parent);
    return dlg.exec() == QDialog::Accepted;
}

bool session_sign_on() { return session_sign_on(settings(), QApplication::activeWindow()); }
