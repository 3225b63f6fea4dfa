#include <gtest/gtest.h>

#include <array>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QSpinBox>
#include <QTimer>
#include <QUrl>
#include <QtTest/QTest>
#include <functional>

#include "config/settings.h"
#include "dialogs/connect_dialogs.h"
#include "dialogs/font_dialogs.h"
#include "dialogs/settings_dialogs.h"
#include "../support/qt_test_support.h"

using qt_test_support::test_app;

namespace {

struct DialogTest : ::testing::Test {
    Settings s;
    QStringList messages;
    QList<QUrl> opened;

    void SetUp() override {
        test_app();
        hooks().message = [this](QWidget*, const QString& t) { messages << t; };
        hooks().open_url = [this](const QUrl& u) { opened << u; };
    }
    // The hooks outlive the fixture; they must not keep pointing at it.
    void TearDown() override {
        hooks().message = [](QWidget*, const QString&) {};
        hooks().open_url = [](const QUrl&) {};
    }

    static QLineEdit* edit(settings_dialog& d, int id) {
        auto* e = d.control<QLineEdit>(id);
        EXPECT_NE(e, nullptr) << id;
        return e;
    }
    static QCheckBox* check(settings_dialog& d, int id) {
        auto* c = d.control<QCheckBox>(id);
        EXPECT_NE(c, nullptr) << id;
        return c;
    }
    static void ok(QDialog& d) { d.accept(); }
    // Runs `inside` on the next modal dialog once it is shown by exec().
    static void on_next_modal(std::function<void(QDialog*)> inside) {
        QTimer::singleShot(0, [inside] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            inside(d);
        });
    }
};

// A fake of the rest of the program for the Connect command.
struct fake_actions : connect_actions {
    bool is_connected = false, direct = false, answer_ok = true;
    std::string typed = "unix1";
    std::vector<std::string> log;
    std::string host;
    int port = -1;
    void apply_modes(bool w, bool n) override {
        log.push_back(std::string("modes ") + (w ? "1" : "0") + (n ? "1" : "0"));
    }
    bool connected() override { return is_connected; }
    bool direct_connect() override { return direct; }
    void message(std::string_view t) override { log.push_back("msg " + std::string(t)); }
    bool ask_host(Settings& s) override {
        log.push_back("dialog");
        if (answer_ok) s.host_name = typed;
        return answer_ok;
    }
    void connect_to(const std::string& h, int p) override {
        host = h;
        port = p;
        log.push_back("connect");
    }
    void repaint() override { log.push_back("repaint"); }
};

}  // namespace

TEST_F(DialogTest, ProxyDialogKeepsSocks5WhileTheBoxStaysTicked) {
    s.proxy_socks_enable = 5;
    {
        getproxy d(s);
        EXPECT_TRUE(check(d, 1006)->isChecked());
        ok(d);
    }
    EXPECT_EQ(s.proxy_socks_enable, 5);
    {
        getproxy d(s);
        check(d, 1006)->setChecked(false);
        ok(d);
    }
    EXPECT_EQ(s.proxy_socks_enable, 0);
}

TEST_F(DialogTest, ProxyPrefillsStoresOnOkOnly) {
    s.proxy_host = "gate";
    s.proxy_port = 3128;
    s.proxy_enable = 1;
    s.proxy_socks_enable = 0;
    {
        getproxy d(s);
        EXPECT_EQ(d.windowTitle(), "Proxy Configuration");
        EXPECT_EQ(edit(d, 1000)->text(), "gate");
        EXPECT_EQ(edit(d, 1001)->text(), "3128");
        EXPECT_EQ(edit(d, 1002)->text(), "$1 $2\\n\\r");
        EXPECT_EQ(edit(d, 1004)->text(), "\\015\\012");
        EXPECT_TRUE(check(d, 1005)->isChecked());
        EXPECT_FALSE(check(d, 1006)->isChecked());
        EXPECT_EQ(check(d, 1006)->text(), "Use  Protocol SOCKS  V. 4 ");
        edit(d, 1000)->setText("other");
        d.reject();
    }
    EXPECT_EQ(s.proxy_host, "gate");
    {
        getproxy d(s);
        edit(d, 1000)->setText("socks.lan");
        edit(d, 1001)->setText(" 1081 ");
        edit(d, 1002)->setText("\\015$1 $2\\015\\012");
        check(d, 1005)->setChecked(false);
        check(d, 1006)->setChecked(true);
        ok(d);
        EXPECT_EQ(d.result(), QDialog::Accepted);
    }
    EXPECT_EQ(s.proxy_host, "socks.lan");
    EXPECT_EQ(s.proxy_port, 1081);
    EXPECT_EQ(s.proxy_syntax, "\\015$1 $2\\015\\012");
    EXPECT_EQ(s.proxy_enable, 0);
    EXPECT_EQ(s.proxy_socks_enable, 1);
    {
        getproxy d(s);
        edit(d, 1001)->setText("none");
        ok(d);
    }
    EXPECT_EQ(s.proxy_port, 1081);
}

// Every field of every settings dialog: title, label, length limit, the key it fills, and Cancel keeping the key.
namespace {

std::unique_ptr<settings_dialog> open_dialog(std::string_view name, Settings& s) {
    if (name == "proxy") return std::make_unique<getproxy>(s);
    if (name == "auto") return std::make_unique<getauto>(s);
    if (name == "term") return std::make_unique<getterm>(s);
    if (name == "cursor") return std::make_unique<getcursor>(s);
    if (name == "margin") return std::make_unique<getmargin>(s);
    if (name == "key") return std::make_unique<getkey>(s);
    if (name == "ssh") return std::make_unique<getssh>(s);
    if (name == "advanced") return std::make_unique<gethost_ad>(s, advanced_values{});
    return nullptr;
}

QString label_of(settings_dialog& d, QWidget* field) {
    // A combo box's edit is labelled through the combo box.
    for (QWidget* w = field; w && w != &d; w = w->parentWidget())
        for (auto* form : d.findChildren<QFormLayout*>())
            if (auto* l = qobject_cast<QLabel*>(form->labelForField(w))) return l->text();
    return QStringLiteral("<no label>");
}

struct text_field {
    const char* dialog;
    const char* title;
    int id;
    const char* label;
    int limit;
    std::string Settings::*key;
};
const text_field text_fields[] = {
    {"proxy", "Proxy Configuration", 1000, "Proxy Host:", 40, &Settings::proxy_host},
    {"proxy", "Proxy Configuration", 1002, "Proxy Syntax:", 40, &Settings::proxy_syntax},
    {"proxy", "Proxy Configuration", 1004, "Proxy Return Key:", 40, &Settings::proxy_return},
    {"auto", "Auto - Login", 1000, "Search:", 20, &Settings::auto_search1},
    {"auto", "Auto - Login", 1001, "Response:", 20, &Settings::auto_response1},
    {"auto", "Auto - Login", 1002, "Search:", 20, &Settings::auto_search2},
    {"auto", "Auto - Login", 1003, "Response:", 20, &Settings::auto_response2},
    {"term", "Terminal type", 1000, "Terminal type:", 20, &Settings::termtype},
    {"term", "Terminal type", 1001, "ENQ response: ", 20, &Settings::myid},
    {"key", "Select names of mapping files", 1000, "Mapping file for Function keys:", 80, &Settings::keyname},
    {"key", "Select names of mapping files", 1001, "Mapping file for data from host to Quill Telnet:", 80,
     &Settings::nettopc},
    {"key", "Select names of mapping files", 1002, "Mapping file for data from Quill Telnet to host:", 80,
     &Settings::pctonet},
    {"ssh", "Sign on to the host", 1000, "Sign on as:", 40, &Settings::ssh_user},
    {"ssh", "Sign on to the host", 1001, "Password", 40, &Settings::ssh_password},
    {"advanced", "Connect - Advanced", 1033, "SSH key file (empty: ~/.ssh/id_ed25519, id_ecdsa, id_rsa):", 260,
     &Settings::ssh_key_file},
};

struct number_field {
    const char* dialog;
    int id;
    const char* label;
    int limit;
    int Settings::*key;
};
const number_field number_fields[] = {
    {"proxy", 1001, "Proxy Port:", 40, &Settings::proxy_port},
    {"margin", 1000, "A = ", 4, &Settings::x_margin},
    {"margin", 1001, "B = ", 4, &Settings::y_margin},
};

struct check_field {
    const char* dialog;
    int id;
    const char* label;
    int Settings::*key;
};
const check_field check_fields[] = {
    {"proxy", 1005, "Enable Proxy Server", &Settings::proxy_enable},
    {"proxy", 1006, "Use  Protocol SOCKS  V. 4 ", &Settings::proxy_socks_enable},
    {"term", 1006, "Ignore application key mode request", &Settings::ignore_app},
    {"term", 1007, "Use keypad NumLock as a normal key", &Settings::numlock},
    {"term", 1008, "Bell can be used.", &Settings::bell},
    {"term", 1009, "UTF-8 (host sends Unicode)", &Settings::utf8},
    {"cursor", 1005, "Cursor blinks twice every second.", &Settings::blink_cursor},
    {"ssh", 1005, "Remember Username and Password ", &Settings::ssh_default},
    {"advanced", 1031, "SSH-2: &negotiate modern algorithms (off: the fixed legacy suite only)",
     &Settings::ssh_algorithms},
    {"advanced", 1032, "Check SSH host &keys against known_hosts", &Settings::ssh_check_host_key},
    {"advanced", 1035, "Use &only this key file", &Settings::ssh_identities_only},
    {"advanced", 1038, "Telnet: TCP &keep-alive", &Settings::telnet_keepalive},
    {"advanced", 1039, "Reconnect &automatically after a lost connection", &Settings::auto_reconnect},
};

}  // namespace

TEST_F(DialogTest, EveryTextFieldHasItsLabelLimitAndKey) {
    for (const auto& f : text_fields) {
        SCOPED_TRACE(std::string(f.dialog) + " " + std::to_string(f.id));
        Settings local;
        local.*f.key = "before";
        {
            auto d = open_dialog(f.dialog, local);
            EXPECT_EQ(d->windowTitle(), f.title);
            QLineEdit* e = edit(*d, f.id);
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(label_of(*d, e), f.label);
            EXPECT_EQ(e->text(), "before");
            e->clear();
            QTest::keyClicks(e, QString(f.limit + 3, 'x'));
            EXPECT_EQ(e->text().size(), f.limit);
            d->reject();
        }
        EXPECT_EQ(local.*f.key, "before");
        {
            auto d = open_dialog(f.dialog, local);
            edit(*d, f.id)->setText(QStringLiteral("v%1").arg(f.id));
            ok(*d);
            EXPECT_EQ(d->result(), QDialog::Accepted);
        }
        EXPECT_EQ(local.*f.key, "v" + std::to_string(f.id));
    }
}

TEST_F(DialogTest, EveryNumberFieldScansDecimalAndKeepsTheOldValueOnJunk) {
    for (const auto& f : number_fields) {
        SCOPED_TRACE(std::string(f.dialog) + " " + std::to_string(f.id));
        Settings local;
        local.*f.key = 77;
        {
            auto d = open_dialog(f.dialog, local);
            QLineEdit* e = edit(*d, f.id);
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(label_of(*d, e), f.label);
            EXPECT_EQ(e->text(), "77");
            e->clear();
            QTest::keyClicks(e, QString(f.limit + 3, '1'));
            EXPECT_EQ(e->text().size(), f.limit);
            e->setText("12");
            d->reject();
        }
        EXPECT_EQ(local.*f.key, 77);
        for (const char* junk : {"", "abc"}) {
            auto d = open_dialog(f.dialog, local);
            edit(*d, f.id)->setText(junk);
            ok(*d);
        }
        EXPECT_EQ(local.*f.key, 77);
        {
            auto d = open_dialog(f.dialog, local);
            edit(*d, f.id)->setText(" 12");
            ok(*d);
        }
        EXPECT_EQ(local.*f.key, 12);
    }
}

TEST_F(DialogTest, EveryCheckBoxShowsAndStoresItsKey) {
    for (const auto& f : check_fields) {
        SCOPED_TRACE(std::string(f.dialog) + " " + std::to_string(f.id));
        for (int start : {0, 1}) {
            Settings local;
            local.*f.key = start;
            {
                auto d = open_dialog(f.dialog, local);
                QCheckBox* c = check(*d, f.id);
                ASSERT_NE(c, nullptr);
                EXPECT_EQ(c->text(), f.label);
                EXPECT_EQ(c->isChecked(), start == 1);
                c->setChecked(start == 0);
                d->reject();
            }
            EXPECT_EQ(local.*f.key, start);
            {
                auto d = open_dialog(f.dialog, local);
                check(*d, f.id)->setChecked(start == 0);
                ok(*d);
            }
            EXPECT_EQ(local.*f.key, 1 - start);
        }
    }
}

TEST_F(DialogTest, ConnectAndAdvancedLabels) {
    gethost h(s);
    EXPECT_EQ(h.control<QPushButton>(1013)->text(), "&Advanced...");
    bool prompt = false;
    for (auto* l : h.findChildren<QLabel*>()) prompt = prompt || l->text() == "Enter Host Name or IP Address:";
    EXPECT_TRUE(prompt);
    gethost_ad a(s, advanced_values{"23", false, false, false});
    EXPECT_EQ(label_of(a, a.control<QLineEdit>(1001)), "Port:");
    const std::pair<int, const char*> texts[] = {{1005, "Use as default &Host"},
                                                 {1007, "&Exit on session termination"},
                                                 {1008, "Confirm Exit"},
                                                 {1006, "Secure Shell (SSH) - use Port 22"},
                                                 {1026, "DES Encryption"},
                                                 {1027, "3-DES Encryption"},
                                                 {1028, "BlowFish Encryption"},
                                                 {1029, "SSH-1"},
                                                 {1030, "SSH-2"},
                                                 {1034, "Browse..."}};
    for (const auto& [id, text] : texts) {
        auto* b = a.control<QAbstractButton>(id);
        ASSERT_NE(b, nullptr) << id;
        EXPECT_EQ(b->text(), text) << id;
    }
}

// Browse... opens beside the current key file and puts the chosen one in the field; cancelling keeps the field.
TEST_F(DialogTest, AdvancedBrowseChoosesTheKeyFile) {
    QTemporaryDir dir;
    const QString old_key = dir.filePath("id_old"), new_key = dir.filePath("id_new");
    for (const auto& f : {old_key, new_key}) QFile(f).open(QIODevice::WriteOnly);
    s.ssh_key_file = old_key.toStdString();
    gethost_ad a(s, advanced_values{});
    for (const bool choose : {false, true}) {
        QTimer::singleShot(0, [&] {
            auto* f = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(f, nullptr);
            EXPECT_EQ(f->directory().absolutePath(), QFileInfo(old_key).absolutePath());
            f->selectFile(new_key);
            choose ? f->QDialog::accept() : f->reject();
        });
        a.control<QPushButton>(1034)->click();
        EXPECT_EQ(a.control<QLineEdit>(1033)->text(), choose ? new_key : old_key);
    }
}

// The keep-alive interval and the unanswered count: shown as stored (0 as "never"), kept on Cancel, stored on OK,
// and bounded however the stored value came.
TEST_F(DialogTest, AdvancedKeepAliveSpinBoxes) {
    const struct {
        int id;
        int Settings::*key;
        const char* label;
        int max;
    } rows[] = {{1036, &Settings::ssh_keepalive, "SSH-2: keep-alive every", 3600},
                {1037, &Settings::ssh_keepalive_max, "Close after", 100}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.id);
        s.*r.key = 0;
        {
            gethost_ad a(s, advanced_values{});
            auto* b = a.control<QSpinBox>(r.id);
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(label_of(a, b), r.label);
            EXPECT_EQ(b->text(), "never");
            b->setValue(7);
            a.reject();
        }
        EXPECT_EQ(s.*r.key, 0);
        {
            gethost_ad a(s, advanced_values{});
            a.control<QSpinBox>(r.id)->setValue(7);
            ok(a);
        }
        EXPECT_EQ(s.*r.key, 7);
        s.*r.key = 1000000;  // from a hand-edited file
        {
            gethost_ad a(s, advanced_values{});
            EXPECT_EQ(a.control<QSpinBox>(r.id)->value(), r.max);
        }
    }
}

TEST_F(DialogTest, OverlongPrefilledValueBlocksOkUntilShortened) {
    s.auto_search1 = "login:";
    s.auto_response2 = std::string(25, 'r');  // from an imported file
    getauto d(s);
    auto* e = edit(d, 1003);
    EXPECT_EQ(e->text().size(), 25);  // shown whole, not cut
    QTest::keyClicks(e, "more");
    EXPECT_EQ(e->text().size(), 25);  // cannot grow
    ok(d);
    EXPECT_NE(d.result(), QDialog::Accepted);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Enter no more than 20 characters.");
    EXPECT_EQ(s.auto_response2, std::string(25, 'r'));
    e->setCursorPosition(25);
    for (int i = 0; i < 5; ++i) QTest::keyClick(e, Qt::Key_Backspace);
    EXPECT_EQ(e->text().size(), 20);
    QTest::keyClicks(e, "x");
    EXPECT_EQ(e->text().size(), 20);
    ok(d);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(s.auto_response2, std::string(20, 'r'));
    EXPECT_EQ(s.auto_search1, "login:");
}

TEST_F(DialogTest, TerminalTypeWidthAndSwitches) {
    s.term_size = 132;
    s.bell = 1;
    {
        getterm d(s);
        EXPECT_EQ(edit(d, 1000)->text(), "vt220");
        EXPECT_EQ(edit(d, 1001)->text(), "QUILL_TELNET");
        EXPECT_TRUE(check(d, 1005)->isChecked());
        EXPECT_TRUE(check(d, 1008)->isChecked());
        edit(d, 1000)->setText("vt100");
        edit(d, 1001)->setText("me");
        check(d, 1005)->setChecked(false);
        check(d, 1006)->setChecked(true);
        check(d, 1007)->setChecked(true);
        check(d, 1008)->setChecked(false);
        ok(d);
    }
    EXPECT_EQ(s.termtype, "vt100");
    EXPECT_EQ(s.myid, "me");
    EXPECT_EQ(s.term_size, 80);
    EXPECT_EQ(s.ignore_app, 1);
    EXPECT_EQ(s.numlock, 1);
    EXPECT_EQ(s.bell, 0);
    // Any width other than 132 shows unticked; ticking stores 132.
    s.term_size = 100;
    getterm d(s);
    EXPECT_FALSE(check(d, 1005)->isChecked());
    check(d, 1005)->setChecked(true);
    ok(d);
    EXPECT_EQ(s.term_size, 132);
}

TEST_F(DialogTest, TerminalTypeListAndTodaysHostsChoice) {
    const QStringList offered{"vt220", "vt100", "xterm", "xterm-256color", "Today's hosts (xterm-256color, UTF-8)"};
    auto items = [](QComboBox* c) {
        QStringList l;
        for (int i = 0; i < c->count(); ++i) l << c->itemText(i);
        return l;
    };
    {
        getterm d(s);
        auto* type = d.control<QComboBox>(1010);
        ASSERT_NE(type, nullptr);
        EXPECT_TRUE(type->isEditable());
        EXPECT_EQ(items(type), offered);
        EXPECT_EQ(edit(d, 1000)->text(), "vt220") << "defaults stay the VT220 in byte mode";
        EXPECT_FALSE(check(d, 1009)->isChecked());
        type->setCurrentIndex(4);
        EXPECT_EQ(edit(d, 1000)->text(), "xterm-256color");
        EXPECT_TRUE(check(d, 1009)->isChecked());
        d.reject();
    }
    EXPECT_EQ(s.termtype, "vt220");
    EXPECT_EQ(s.utf8, 0);
    {
        getterm d(s);
        d.control<QComboBox>(1010)->setCurrentIndex(4);
        ok(d);
    }
    EXPECT_EQ(s.termtype, "xterm-256color");
    EXPECT_EQ(s.utf8, 1);
    {
        // The profile again after UTF-8 was switched off: it acts again.
        getterm d(s);
        auto* type = d.control<QComboBox>(1010);
        check(d, 1009)->setChecked(false);
        type->setCurrentIndex(1);
        EXPECT_EQ(edit(d, 1000)->text(), "vt100");
        type->setCurrentIndex(4);
        EXPECT_EQ(edit(d, 1000)->text(), "xterm-256color");
        EXPECT_TRUE(check(d, 1009)->isChecked());
        type->setCurrentIndex(4);
        EXPECT_EQ(edit(d, 1000)->text(), "xterm-256color");
        d.reject();
    }
    // A stored type off the list shows as stored; picking the first entry replaces it.
    s.termtype = "ansi";
    {
        getterm d(s);
        EXPECT_EQ(edit(d, 1000)->text(), "ansi");
        d.control<QComboBox>(1010)->setCurrentIndex(0);
        EXPECT_EQ(edit(d, 1000)->text(), "vt220");
        edit(d, 1000)->clear();
        QTest::keyClicks(edit(d, 1000), "xterm");
        EXPECT_EQ(edit(d, 1000)->text(), "xterm") << "typing is not completed to a listed type";
        ok(d);
    }
    EXPECT_EQ(s.termtype, "xterm");
    EXPECT_EQ(s.utf8, 1);
}

// Alt as Meta, three wheel lines, the disconnect question and the window-sized screen have their own switches, off
// by default; the Today's hosts profile ticks them all.
TEST_F(DialogTest, HabitSwitchesAndTheTodaysHostsProfile) {
    struct habit {
        int id;
        const char* text;
    };
    const habit habits[] = {{1011, "&Alt key sends Meta (ESC prefix)"},
                            {1012, "Mouse &wheel scrolls three lines"},
                            {1013, "As&k before disconnecting"},
                            {1014, "&Screen follows the window (rows and columns)"}};
    auto stored = [&] { return std::array<int, 4>{s.alt_meta, s.wheel_lines, s.confirm_disconnect, s.screen_size}; };
    EXPECT_EQ(stored(), (std::array<int, 4>{0, 1, 0, 0}));
    {
        getterm d(s);
        for (const habit& h : habits) {
            ASSERT_NE(check(d, h.id), nullptr);
            EXPECT_EQ(check(d, h.id)->text(), h.text);
            EXPECT_FALSE(check(d, h.id)->isChecked());
        }
        d.control<QComboBox>(1010)->setCurrentIndex(2);  // xterm: not the profile
        ok(d);
    }
    EXPECT_EQ(stored(), (std::array<int, 4>{0, 1, 0, 0}));
    // Each switch alone.
    const std::array<int, 4> alone[] = {{1, 1, 0, 0}, {0, 3, 0, 0}, {0, 1, 1, 0}, {0, 1, 0, 1}};
    for (int i = 0; i < 4; ++i) {
        {
            getterm d(s);
            check(d, habits[i].id)->setChecked(true);
            ok(d);
        }
        EXPECT_EQ(stored(), alone[i]) << habits[i].text;
        getterm d(s);
        EXPECT_TRUE(check(d, habits[i].id)->isChecked());
        check(d, habits[i].id)->setChecked(false);
        ok(d);
        EXPECT_EQ(stored(), (std::array<int, 4>{0, 1, 0, 0}));
    }
    {
        getterm d(s);
        d.control<QComboBox>(1010)->setCurrentIndex(4);
        for (const habit& h : habits) EXPECT_TRUE(check(d, h.id)->isChecked()) << h.text;
        d.reject();
    }
    EXPECT_EQ(stored(), (std::array<int, 4>{0, 1, 0, 0})) << "Cancel keeps everything";
    {
        getterm d(s);
        d.control<QComboBox>(1010)->setCurrentIndex(4);
        ok(d);
    }
    EXPECT_EQ(stored(), (std::array<int, 4>{1, 3, 1, 1}));
    s.wheel_lines = 5;
    {
        getterm d(s);
        EXPECT_TRUE(check(d, 1012)->isChecked());
        ok(d);
    }
    EXPECT_EQ(s.wheel_lines, 5) << "a larger step stored by hand stays";
}

// Types text into a number field as a user would: all selected, then the keys.
void type_number(QSpinBox* field, const QString& text) {
    auto* line = field->findChild<QLineEdit*>();
    ASSERT_NE(line, nullptr);
    line->selectAll();
    QTest::keyClicks(line, text);
}

// The history's length: what is typed stays as typed, and a number out of range is refused on OK with a message
// (a spin box bounded at 100,000 had dropped the last digit of 250000). Cancel keeps the value; the arrows stay
// within range.
TEST_F(DialogTest, TerminalPageSetsTheScrollBackLines) {
    struct lines_case {
        int stored, shown;
        const char* typed;
        bool refused;
        int kept;
    };
    const lines_case cases[] = {
        {199, 199, "100000", false, 100000},  {5000, 5000, "24", false, 24},     {7, 24, "2000", false, 2000},
        {1 << 30, 100000, "250000", true, 0}, {300, 300, "3", true, 0},          {300, 300, "23", true, 0},
        {199, 199, "100001", true, 0},        {199, 199, "10000", false, 10000},
    };
    for (const lines_case& c : cases) {
        SCOPED_TRACE(c.typed);
        s.scrollback_lines = c.stored;
        {
            getterm d(s);
            auto* b = d.control<QSpinBox>(1015);
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(label_of(d, b), "Scroll-&back lines:");
            EXPECT_EQ(b->value(), c.shown);
            type_number(b, c.typed);
            d.reject();
        }
        EXPECT_EQ(s.scrollback_lines, c.stored) << "Cancel";
        messages.clear();
        getterm d(s);
        auto* b = d.control<QSpinBox>(1015);
        type_number(b, c.typed);
        EXPECT_EQ(b->text(), c.typed);
        ok(d);
        if (c.refused) {
            EXPECT_EQ(d.result(), QDialog::Rejected) << "the dialog stays open";
            EXPECT_EQ(s.scrollback_lines, c.stored);
            ASSERT_EQ(messages.size(), 1);
            EXPECT_EQ(messages[0], QStringLiteral("Scroll-back lines takes a number from %1 to %2.")
                                       .arg(QLocale().toString(24), QLocale().toString(100000)));
            type_number(b, "500");
            ok(d);
            EXPECT_EQ(s.scrollback_lines, 500) << "accepted once in range";
        } else {
            EXPECT_EQ(d.result(), QDialog::Accepted);
            EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
            EXPECT_EQ(s.scrollback_lines, c.kept);
        }
    }
    getterm d(s);
    auto* b = d.control<QSpinBox>(1015);
    type_number(b, "99950");
    b->stepBy(1);
    EXPECT_EQ(b->value(), 100000);
    type_number(b, "30");
    b->stepBy(-1);
    EXPECT_EQ(b->value(), 24);
}

// Today's hosts on the Terminal page brings the rest of today's defaults: 10,000 lines unless the user set a
// length, the locale for SSH-2 hosts and, only over the classic colours, a readable palette.
TEST_F(DialogTest, TodaysHostsProfileBringsHistoryLocaleAndPalette) {
    struct row {
        const char* what;
        int lines, bg, fg;
        int lines_after;
        bool palette_replaced;
    };
    const Settings classic;
    const row rows[] = {
        {"classic", classic.scrollback_lines, classic.color_bg, classic.color_fg, todays_scrollback_lines, true},
        {"own length", 3000, classic.color_bg, classic.color_fg, 3000, true},
        {"own colours", classic.scrollback_lines, 0xFFFFFF, 0x202020, todays_scrollback_lines, false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        s = Settings();
        s.scrollback_lines = r.lines;
        s.color_bg = r.bg;
        s.color_fg = r.fg;
        {
            getterm d(s);
            EXPECT_FALSE(check(d, 1016)->isChecked());
            d.control<QComboBox>(1010)->setCurrentIndex(4);
            EXPECT_TRUE(check(d, 1016)->isChecked());
            EXPECT_EQ(d.control<QSpinBox>(1015)->value(), r.lines_after);
            d.reject();
        }
        EXPECT_EQ(s.color_bg, r.bg) << "Cancel";
        EXPECT_EQ(s.ssh_send_locale, 0);
        getterm d(s);
        d.control<QComboBox>(1010)->setCurrentIndex(4);
        ok(d);
        EXPECT_EQ(s.scrollback_lines, r.lines_after);
        EXPECT_EQ(s.ssh_send_locale, 1);
        EXPECT_EQ(s.termtype, "xterm-256color");
        Settings today = Settings();
        apply_todays_defaults(today);
        if (r.palette_replaced) {
            EXPECT_EQ(s.color_bg, today.color_bg);
            EXPECT_EQ(s.color_fg, today.color_fg);
            EXPECT_EQ(s.color_bold, today.color_bold);
        } else {
            EXPECT_EQ(s.color_bg, r.bg);
            EXPECT_EQ(s.color_fg, r.fg);
            EXPECT_EQ(s.color_bold, classic.color_bold);
        }
    }
    // Unticked again by hand, the locale stays off.
    getterm d(s);
    check(d, 1016)->setChecked(false);
    ok(d);
    EXPECT_EQ(s.ssh_send_locale, 0);
}

TEST_F(DialogTest, CursorShapeBlinkAndDoubleClick) {
    s.cursortype = 2;
    s.blink_cursor = 5;
    {
        getcursor d(s);
        ASSERT_EQ(d.shapes()->count(), 3);
        EXPECT_EQ(d.shapes()->item(0)->text(), "Full Block");
        EXPECT_EQ(d.shapes()->item(1)->text(), "Half Block");
        EXPECT_EQ(d.shapes()->item(2)->text(), "Underline");
        EXPECT_EQ(d.shapes()->currentRow(), 2);
        EXPECT_TRUE(check(d, 1005)->isChecked());
        d.shapes()->setCurrentRow(1);
        ok(d);
    }
    EXPECT_EQ(s.cursortype, 1);
    EXPECT_EQ(s.blink_cursor, 1);
    {
        getcursor d(s);
        check(d, 1005)->setChecked(false);
        d.shapes()->setCurrentRow(0);
        emit d.shapes()->itemDoubleClicked(d.shapes()->item(0));
        EXPECT_EQ(d.result(), QDialog::Accepted);
    }
    EXPECT_EQ(s.cursortype, 0);
    EXPECT_EQ(s.blink_cursor, 0);
}

TEST_F(DialogTest, MarginsAreDecimalWithFourCharacters) {
    getmargin d(s);
    EXPECT_EQ(edit(d, 1000)->text(), "10");
    EXPECT_NE(d.findChild<QWidget*>("c157"), nullptr);
    edit(d, 1000)->clear();
    QTest::keyClicks(edit(d, 1000), "123456");
    EXPECT_EQ(edit(d, 1000)->text(), "1234");
    edit(d, 1001)->setText("x9");
    ok(d);
    EXPECT_EQ(s.x_margin, 1234);
    EXPECT_EQ(s.y_margin, 10);
}

TEST_F(DialogTest, SignOnStoresOnOkAndLeavesEverythingOnCancel) {
    s.ssh_user = "root";
    on_next_modal([](QDialog* d) {
        auto* dlg = static_cast<getssh*>(d);
        EXPECT_EQ(dlg->windowTitle(), "Sign on to the host");
        EXPECT_EQ(dlg->control<QLineEdit>(1000)->text(), "root");
        EXPECT_EQ(dlg->control<QLineEdit>(1001)->echoMode(), QLineEdit::Password);
        dlg->control<QLineEdit>(1000)->setText("alice");
        dlg->control<QLineEdit>(1001)->setText("s3cret");
        dlg->control<QCheckBox>(1005)->setChecked(true);
        dlg->reject();
    });
    EXPECT_FALSE(session_sign_on(s));
    EXPECT_EQ(s.ssh_user, "root");
    EXPECT_EQ(s.ssh_password, "");
    EXPECT_EQ(s.ssh_default, 0);
    on_next_modal([](QDialog* d) {
        auto* dlg = static_cast<getssh*>(d);
        dlg->control<QLineEdit>(1000)->setText("alice");
        dlg->control<QLineEdit>(1001)->setText("s3cret");
        dlg->control<QCheckBox>(1005)->setChecked(true);
        dlg->accept();
    });
    EXPECT_TRUE(session_sign_on(s));
    EXPECT_EQ(s.ssh_user, "alice");
    EXPECT_EQ(s.ssh_password, "s3cret");
    EXPECT_EQ(s.ssh_default, 1);
}

TEST_F(DialogTest, HelpAndF1OpenTheDialogsSection) {
    getproxy p(s);
    p.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Help)->click();
    getcursor c(s);
    QTest::keyClick(&c, Qt::Key_F1);
    gethost h(s);
    QTest::keyClick(&h, Qt::Key_F1);
    ASSERT_EQ(opened.size(), 3);
    EXPECT_EQ(opened[0].fragment(), "proxy");
    EXPECT_EQ(opened[1].fragment(), "cursor");
    EXPECT_EQ(opened[2].fragment(), "connect");
    EXPECT_TRUE(opened[0].isLocalFile());
    EXPECT_TRUE(opened[0].toLocalFile().endsWith("qtelnet.html"));
}

TEST_F(DialogTest, EveryHelpAnchorExistsInTheShippedDocument) {
    QFile f(QStringLiteral(SOURCE_DIR "/dist/help/qtelnet.html"));
    if (!f.open(QIODevice::ReadOnly)) GTEST_SKIP() << "help document not in this checkout";
    const QString html = QString::fromUtf8(f.readAll());
    getproxy a(s);
    getauto b(s);
    getterm c(s);
    getcursor d(s);
    getmargin e(s);
    getkey g(s);
    getssh h(s);
    gethost i(s);
    gethost_ad j(s, advanced_values{});
    font_chooser k(s, font_chooser::screen);
    for (settings_dialog* dlg : std::initializer_list<settings_dialog*>{&a, &b, &c, &d, &e, &g, &h, &i, &j, &k})
        EXPECT_TRUE(html.contains(QStringLiteral("id=\"%1\"").arg(dlg->help_anchor())))
            << dlg->help_anchor().toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral("id=\"colours\"")));
}

TEST_F(DialogTest, ConnectListsHistoryAndStoresOnOk) {
    s.host_hist = {"first", "", " blank", "second", "", "", "", ""};
    s.host_name = "typed.example";
    s.port = 2323;
    s.exit = 1;
    {
        gethost d(s);
        EXPECT_EQ(d.windowTitle(), "Connect");
        auto* box = d.host_box();
        ASSERT_EQ(box->count(), 2);
        EXPECT_EQ(box->itemText(0), "first");
        EXPECT_EQ(box->itemText(1), "second");
        EXPECT_EQ(box->currentText(), "typed.example");
        EXPECT_EQ(d.values().port_text, "2323");
        EXPECT_TRUE(d.values().exit);
        box->setEditText("changed");
        d.reject();
    }
    EXPECT_EQ(s.host_name, "typed.example");
    {
        gethost d(s);
        d.host_box()->setCurrentIndex(1);
        ok(d);
    }
    EXPECT_EQ(s.host_name, "second");
    EXPECT_EQ(s.port, 2323);
}

TEST_F(DialogTest, TypedHostStaysAsTypedBesideSimilarHistory) {
    // Neither a case-insensitive history match nor a history entry starting with the typed text may replace it.
    s.host_hist = {"unix1", "foobar", "", "", "", "", "", ""};
    for (const char* typed : {"UNIX1", "foo", "unix1"}) {
        s.host_name.clear();
        gethost d(s);
        d.show();
        auto* line = d.host_box()->lineEdit();
        line->setFocus();
        QTest::keyClicks(line, typed);
        QTest::keyClick(line, Qt::Key_Return);
        EXPECT_EQ(d.result(), QDialog::Accepted) << typed;
        EXPECT_EQ(s.host_name, typed);
    }
}

TEST_F(DialogTest, HostFieldTakesSixtyFourCharactersAndRefusesALongerStoredName) {
    s.host_name = std::string(70, 'h');
    gethost d(s);
    auto* line = d.host_box()->lineEdit();
    EXPECT_EQ(line->text().size(), 70);
    ok(d);
    EXPECT_NE(d.result(), QDialog::Accepted);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Enter no more than 64 characters.");
    line->clear();
    QTest::keyClicks(line, QString(70, 'k'));
    EXPECT_EQ(line->text().size(), 64);
    ok(d);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(s.host_name, std::string(64, 'k'));
}

TEST_F(DialogTest, AdvancedSshStaysWhenConnectIsCancelled) {
    s.host_name = "classic.example";  // a stored Telnet record, shown as stored
    s.port = 23;
    s.ssh = 0;
    gethost d(s);
    on_next_modal([](QDialog* a) {
        auto* ad = static_cast<gethost_ad*>(a);
        EXPECT_EQ(ad->windowTitle(), "Connect - Advanced");
        EXPECT_EQ(ad->control<QLineEdit>(1001)->text(), "23");
        ad->control<QCheckBox>(1006)->setChecked(true);
        ad->control<QRadioButton>(1028)->setChecked(true);
        ad->control<QRadioButton>(1030)->setChecked(true);
        ad->control<QCheckBox>(1005)->setChecked(true);
        ad->accept();
    });
    d.advanced();
    EXPECT_EQ(s.ssh, 1);
    EXPECT_EQ(s.ssh_encryption, 2);
    EXPECT_EQ(s.ssh_type_1_2, 1);
    // The port was not typed: it follows the protocol, and there is nothing to warn about.
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(d.values().port_text, "22");
    EXPECT_EQ(s.autoconnect, 0);  // waits for Connect's OK
    d.reject();
    EXPECT_EQ(s.ssh, 1);
    EXPECT_EQ(s.autoconnect, 0);
}

TEST_F(DialogTest, AdvancedValuesReachSettingsOnConnectOk) {
    s.ssh = 1;
    gethost d(s);
    on_next_modal([](QDialog* a) {
        auto* ad = static_cast<gethost_ad*>(a);
        ad->control<QLineEdit>(1001)->setText("22");
        ad->control<QCheckBox>(1005)->setChecked(true);
        ad->control<QCheckBox>(1007)->setChecked(true);
        ad->control<QCheckBox>(1008)->setChecked(false);
        ad->accept();
    });
    d.advanced();
    EXPECT_TRUE(messages.isEmpty());  // port 22: no warning
    ok(d);
    EXPECT_EQ(s.port, 22);
    EXPECT_EQ(s.autoconnect, 1);
    EXPECT_EQ(s.exit, 1);
    EXPECT_EQ(s.confirm, 0);
}

TEST_F(DialogTest, AdvancedCancelChangesNothing) {
    s.host_name = "classic.example";
    gethost d(s);
    on_next_modal([](QDialog* a) {
        static_cast<gethost_ad*>(a)->control<QCheckBox>(1006)->setChecked(true);
        static_cast<gethost_ad*>(a)->control<QLineEdit>(1001)->setText("99");
        a->reject();
    });
    d.advanced();
    EXPECT_EQ(s.ssh, 0);
    EXPECT_EQ(d.values().port_text, "23");
}

TEST_F(DialogTest, ConnectCommandFlow) {
    {
        fake_actions a;
        a.is_connected = true;
        connect_command(s, a);
        ASSERT_EQ(a.log.size(), 2u);
        EXPECT_EQ(a.log[0], "modes 10");
        EXPECT_EQ(a.log[1], std::string("msg ") + one_connection_text);
    }
    {
        fake_actions a;
        a.direct = true;
        s.host_name = "direct.host";
        s.port = 2000;
        connect_command(s, a);
        EXPECT_EQ(a.host, "direct.host");
        EXPECT_EQ(a.port, 2000);
        EXPECT_EQ(a.log.back(), "repaint");
        EXPECT_EQ(s.host_hist[0], "");  // no dialog, no history
    }
    {
        fake_actions a;
        a.direct = true;
        s.port = 0;  // direct connect needs a port: the dialog opens
        a.typed = "unix1:2323";
        connect_command(s, a);
        EXPECT_EQ(a.log[1], "dialog");
        EXPECT_EQ(a.host, "unix1");
        EXPECT_EQ(a.port, 2323);
        EXPECT_EQ(s.host_name, "unix1");
        EXPECT_EQ(s.port, 2323);
        EXPECT_EQ(s.host_hist[0], "unix1:2323");
    }
    {
        fake_actions a;
        a.answer_ok = false;
        s.new_line = 1;
        s.auto_wrap = 0;
        connect_command(s, a);
        EXPECT_EQ(a.log.front(), "modes 01");
        EXPECT_EQ(a.port, -1);
    }
    {
        fake_actions a;
        a.typed = "UNIX1:2323";
        s.host_hist[1] = "older";
        connect_command(s, a);
        EXPECT_EQ(s.host_hist[0], "unix1:2323");  // known host, order kept
        EXPECT_EQ(s.host_hist[1], "older");
        EXPECT_EQ(a.host, "UNIX1");
    }
}

TEST_F(DialogTest, ScreenFontStoresStyleAndKeepsHeight) {
    s.font_weight = 700;
    s.font_italic = 1;
    s.fontsize = 15;
    s.font_charset = 204;
    font_chooser d(s, font_chooser::screen);
    EXPECT_EQ(d.windowTitle(), "Font ");
    EXPECT_EQ(d.sizes(), nullptr);
    EXPECT_EQ(d.styles()->currentRow(), 3);
    EXPECT_EQ(d.chosen_charset(), 204);
    ASSERT_GT(d.faces()->count(), 0) << "no fixed-pitch font installed";
    d.faces()->setCurrentRow(0);
    const std::string face = d.faces()->item(0)->text().toStdString();
    d.styles()->setCurrentRow(0);
    ok(d);
    EXPECT_EQ(std::string(s.font_name), face.substr(0, 39));
    EXPECT_EQ(s.font_weight, 400);
    EXPECT_EQ(s.font_italic, 0);
    EXPECT_EQ(s.fontsize, 15);
}

// The screen font's size in pixels: shown, stored on OK, a size out of range refused with a message, the zoom keys
// told beside it.
TEST_F(DialogTest, ScreenFontSizeField) {
    const struct {
        const char* typed;
        int stored;  // 0: refused
    } rows[] = {{"16", 16}, {"4", 4}, {"200", 200}, {"250", 0}, {"3", 0}, {"0", 0}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.typed);
        s.fontsize = 15;
        messages.clear();
        font_chooser d(s, font_chooser::screen);
        ASSERT_NE(d.pixels(), nullptr);
        EXPECT_EQ(d.pixels()->value(), 15);
        type_number(d.pixels(), r.typed);
        ok(d);
        if (r.stored) {
            EXPECT_EQ(s.fontsize, r.stored);
            EXPECT_TRUE(messages.isEmpty());
        } else {
            EXPECT_EQ(s.fontsize, 15);
            ASSERT_EQ(messages.size(), 1);
            EXPECT_TRUE(messages[0].startsWith("Size takes a number from 4 to 200")) << messages[0].toStdString();
        }
    }
    font_chooser d(s, font_chooser::screen);
    auto* note = d.findChild<QLabel*>("zoom_note");
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->text().contains("Ctrl+plus"));
    EXPECT_EQ(font_chooser(s, font_chooser::printer).pixels(), nullptr);
}

TEST_F(DialogTest, PrinterFontCarriesAskprintAndSize) {
    s.askprint = 1;
    s.pfontsize = -17;
    {
        font_chooser d(s, font_chooser::printer);
        EXPECT_EQ(d.windowTitle(), "Print Font");
        auto* ask = d.control<QCheckBox>(1041);
        ASSERT_NE(ask, nullptr);
        EXPECT_EQ(ask->text(), "&Show printer selection box for every print job");
        EXPECT_TRUE(ask->isChecked());
        EXPECT_EQ(d.sizes()->currentText(), "13");
        ask->setChecked(false);
        d.styles()->setCurrentRow(2);
        ok(d);
    }
    EXPECT_EQ(s.askprint, 0);
    EXPECT_EQ(s.pfontsize, -17);  // size untouched stays exact
    EXPECT_EQ(s.pfont_weight, 700);
    EXPECT_EQ(s.pfont_italic, 0);
    {
        font_chooser d(s, font_chooser::printer);
        d.sizes()->setEditText("9");
        ok(d);
    }
    EXPECT_EQ(s.pfontsize, -12);
    {
        font_chooser d(s, font_chooser::printer);
        d.sizes()->setEditText("big");
        ok(d);
        EXPECT_NE(d.result(), QDialog::Accepted);
        EXPECT_EQ(messages.size(), 1);
    }
    EXPECT_EQ(s.pfontsize, -12);
}

TEST_F(DialogTest, ColourChooserUsesWindowsByteOrder) {
    EXPECT_EQ(color_from_ref(0x0000FF), QColor(255, 0, 0));
    EXPECT_EQ(color_from_ref(0xFF0000), QColor(0, 0, 255));
    EXPECT_EQ(ref_from_color(QColor(0x12, 0x34, 0x56)), 0x563412);
    int value = 0xFFFF80;
    {
        colour_chooser d(value);
        EXPECT_EQ(d.currentColor(), QColor(0x80, 0xFF, 0xFF));
        d.setCurrentColor(QColor(1, 2, 3));
        d.reject();
    }
    EXPECT_EQ(value, 0xFFFF80);
    {
        colour_chooser d(value);
        d.setCurrentColor(QColor(1, 2, 3));
        d.accept();
    }
    EXPECT_EQ(value, 0x030201);
    EXPECT_EQ(colour_chooser(value).findChild<QCheckBox*>(QStringLiteral("bold_bright")), nullptr)
        << "only the bold colour's dialog offers it";
}

TEST_F(DialogTest, BoldColourDialogOffersBoldInBrightColours) {
    int bold = 0x000080, bright = 1;
    {
        colour_chooser d(bold, nullptr, &bright);
        auto* box = d.findChild<QCheckBox*>(QStringLiteral("bold_bright"));
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), "Show bold text in &bright colours");
        EXPECT_TRUE(box->isVisibleTo(&d));
        EXPECT_TRUE(box->isChecked());
        box->setChecked(false);
        d.reject();
    }
    EXPECT_EQ(bright, 1) << "Cancel keeps it";
    {
        colour_chooser d(bold, nullptr, &bright);
        d.findChild<QCheckBox*>(QStringLiteral("bold_bright"))->setChecked(false);
        d.accept();
    }
    EXPECT_EQ(bright, 0);
    EXPECT_EQ(bold, 0x000080);
    {
        colour_chooser d(bold, nullptr, &bright);
        auto* box = d.findChild<QCheckBox*>(QStringLiteral("bold_bright"));
        EXPECT_FALSE(box->isChecked());
        box->setChecked(true);
        d.accept();
    }
    EXPECT_EQ(bright, 1);
}

TEST_F(DialogTest, EastAsianScriptsNoteTheWesternFallback) {
    for (const auto& [script, shown] : {std::pair{128, true}, {136, true}, {204, false}, {0, false}}) {
        Settings s;
        s.font_charset = script;
        font_chooser d(s, font_chooser::screen);
        auto* note = d.findChild<QLabel*>(QStringLiteral("script_note"));
        ASSERT_NE(note, nullptr);
        EXPECT_EQ(note->isVisibleTo(&d), shown) << script;
    }
}
