// The session list of the Connect dialog and the connection fields beside it: picking, New, Save As, Rename,
// Delete, connecting with a session by double-click or OK, the port that follows the protocol, and the draft that
// Advanced and Tunnels edit: stored into the session connected with, never into the settings on Cancel.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>
#include <map>

#include "../support/qt_test_support.h"
#include "config/memory_backend.h"
#include "config/sessions.h"
#include "config/settings.h"
#include "config/settings_store.h"
#include "dialogs/connect_dialogs.h"
#include "dialogs/tunnels_dialog.h"

namespace {

using sessions::connection;
using sessions::protocol;

struct SessionDialogTest : ::testing::Test {
    Settings s;
    memory_backend store;
    QStringList messages;

    void SetUp() override {
        qt_test_support::test_app();
        hooks().message = [this](QWidget*, const QString& t) { messages << t; };
        saved("1", {"one.example", 23, protocol::telnet, "", "", "vt220"});
        saved("work", {"work.example", 2222, protocol::ssh2, "bob", "/keys/work", "xterm"});
        saved("old", {"old.example", 22, protocol::ssh1, "", "", "vt100"});
        read_configuration(s, store, "1", "/tmp", false);
        s.config_name = "1";
    }
    void TearDown() override {
        hooks().message = [](QWidget*, const QString&) {};
    }

    void saved(const std::string& name, const connection& c) {
        Settings r;
        sessions::apply(c, r);
        r.ssh_default = 1;  // the user name is kept only with "remember"
        write_configuration(r, store, name);
    }
    std::string stored(const std::string& name, const char* key) {
        const auto* v = store.find(config_section(name), key);
        if (!v) return "<missing>";
        if (const auto* i = std::get_if<int>(v)) return std::to_string(*i);
        return std::get<std::string>(*v);
    }
    std::unique_ptr<gethost> dialog(bool may_save = true) {
        session_options o;
        o.store = &store;
        o.may_save = may_save;
        return std::make_unique<gethost>(s, std::move(o));
    }
    static QLineEdit* edit(gethost& d, int id) { return d.control<QLineEdit>(id); }
    static QString port(gethost& d) { return edit(d, 1040)->text(); }
    static QComboBox* proto(gethost& d) { return d.control<QComboBox>(1041); }
    static void select(gethost& d, const QString& name) {
        auto found = d.session_list()->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        d.session_list()->setCurrentItem(found.front());
    }
    static QStringList listed(gethost& d) {
        QStringList out;
        for (int i = 0; i < d.session_list()->count(); ++i) out << d.session_list()->item(i)->text();
        return out;
    }
    // Answers the next modal dialog (a name asked for, a question) once exec() shows it.
    static void on_next_modal(std::function<void(QDialog*)> inside) {
        QTimer::singleShot(0, [inside] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            inside(d);
        });
    }
    static void give_name(const QString& name) {
        on_next_modal([name](QDialog* d) {
            auto* in = qobject_cast<QInputDialog*>(d);
            ASSERT_NE(in, nullptr);
            in->setTextValue(name);
            in->accept();
        });
    }
    static void answer(QMessageBox::StandardButton b) {
        on_next_modal([b](QDialog* d) {
            auto* box = qobject_cast<QMessageBox*>(d);
            ASSERT_NE(box, nullptr);
            box->button(b)->click();
        });
    }
    // The press before the double click is what the list checks the double click against.
    static void double_click(gethost& d, const QString& name) {
        auto found = d.session_list()->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        QWidget* port = d.session_list()->viewport();
        const QPoint at = d.session_list()->visualItemRect(found.front()).center();
        QTest::mouseClick(port, Qt::LeftButton, {}, at);
        QTest::mouseDClick(port, Qt::LeftButton, {}, at);
    }
    static void type_port(gethost& d, const QString& text) {
        edit(d, 1040)->clear();
        QTest::keyClicks(edit(d, 1040), text);
    }
    // Opens Tunnels from the dialog, ticks agent forwarding, adds a local forward and closes it with `ok`.
    static void tunnels(gethost& d, bool ok, const char* listen = "8080") {
        on_next_modal([ok, listen](QDialog* t) {
            auto* tun = qobject_cast<gethost_tunnels*>(t);
            ASSERT_NE(tun, nullptr);
            tun->control<QCheckBox>(1056)->setChecked(true);
            tun->control<QComboBox>(1051)->setCurrentIndex(0);
            tun->control<QLineEdit>(1052)->setText(QString::fromLatin1(listen));
            tun->control<QLineEdit>(1053)->setText(QStringLiteral("127.0.0.1:80"));
            tun->control<QPushButton>(1054)->click();
            ok ? tun->accept() : tun->reject();
        });
        d.control<QPushButton>(1019)->click();
    }
    // Opens Advanced and changes what the classic program did not have, closing it with `ok`.
    static void advanced_beyond_classic(gethost& d, bool ok) {
        on_next_modal([ok](QDialog* a) {
            auto* ad = qobject_cast<gethost_ad*>(a);
            ASSERT_NE(ad, nullptr);
            ad->control<QLineEdit>(1033)->setText(QStringLiteral("/keys/other"));
            ad->control<QCheckBox>(1035)->toggle();
            ad->control<QCheckBox>(1031)->toggle();
            ad->control<QCheckBox>(1032)->toggle();
            ad->control<QSpinBox>(1036)->setValue(45);
            ad->control<QSpinBox>(1037)->setValue(7);
            ad->control<QCheckBox>(1038)->toggle();
            ad->control<QCheckBox>(1039)->toggle();
            ok ? ad->accept() : ad->reject();
        });
        d.advanced();
    }
    // What the exit would write for the record in use.
    static std::map<std::pair<std::string, std::string>, memory_backend::value> exit_dump(const Settings& r) {
        memory_backend b;
        write_configuration(r, b, r.config_name);
        return b.values;
    }
};

TEST_F(SessionDialogTest, PickingASessionFillsTheFieldsAndOkRunsWithThem) {
    auto d = dialog();
    EXPECT_EQ(listed(*d), (QStringList{"old", "work"}));
    const std::pair<int, const char*> buttons[] = {{1046, "&New"},
                                                   {1047, "Sa&ve As..."},
                                                   {1048, "&Rename..."},
                                                   {1049, "&Delete"}};
    for (const auto& [id, text] : buttons) EXPECT_EQ(d->control<QPushButton>(id)->text(), text);
    // Each Alt+letter of the dialog reaches one button.
    std::map<QChar, QString> keys;
    for (const QAbstractButton* b : d->findChildren<QAbstractButton*>()) {
        const QString t = b->text();
        const auto amp = t.indexOf(QLatin1Char('&'));
        if (amp < 0 || amp + 1 >= t.size()) continue;
        const QChar k = t[amp + 1].toLower();
        EXPECT_TRUE(keys.emplace(k, t).second) << t.toStdString() << " and " << keys[k].toStdString();
    }
    const struct {
        const char* name;
        const char* host;
        const char* port;
        const char* protocol;
        const char* user;
        const char* key;
        const char* term;
    } rows[] = {{"work", "work.example", "2222", "SSH-2", "bob", "/keys/work", "xterm"},
                {"old", "old.example", "22", "SSH-1", "", "", "vt100"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        select(*d, r.name);
        EXPECT_EQ(d->host_box()->currentText(), r.host);
        EXPECT_EQ(port(*d), r.port);
        EXPECT_EQ(proto(*d)->currentText(), r.protocol);
        EXPECT_EQ(edit(*d, 1042)->text(), r.user);
        EXPECT_EQ(edit(*d, 1043)->text(), r.key);
        EXPECT_EQ(edit(*d, 1044)->text(), r.term);
    }
    select(*d, "work");
    d->accept();
    ASSERT_EQ(d->result(), QDialog::Accepted);
    EXPECT_EQ(s.host_name, "work.example");
    EXPECT_EQ(s.port, 2222);
    EXPECT_EQ(sessions::protocol_of(s.ssh, s.ssh_type_1_2), protocol::ssh2);
    EXPECT_EQ(s.ssh_user, "bob");
    EXPECT_EQ(s.ssh_key_file, "/keys/work");
    EXPECT_EQ(s.termtype, "xterm");
    EXPECT_EQ(s.config_name, "work");  // the session picked is the one connected with, and saved at exit
    EXPECT_TRUE(messages.isEmpty());   // a session's SSH port is no typed one
}

TEST_F(SessionDialogTest, NewStartsEmptyOnTheProtocolsPort) {
    auto d = dialog();
    select(*d, "old");  // SSH-1
    d->control<QPushButton>(1046)->click();
    EXPECT_EQ(d->host_box()->currentText(), "");
    EXPECT_EQ(proto(*d)->currentText(), "SSH-2");
    EXPECT_EQ(port(*d), "22");
    EXPECT_EQ(edit(*d, 1042)->text(), "");
    EXPECT_EQ(edit(*d, 1044)->text(), "xterm-256color");
    EXPECT_EQ(d->session_list()->selectedItems().size(), 0);
    EXPECT_FALSE(d->control<QPushButton>(1048)->isEnabled());
    proto(*d)->setCurrentText("Telnet");
    d->control<QPushButton>(1046)->click();
    EXPECT_EQ(port(*d), "23");
}

TEST_F(SessionDialogTest, SaveAsWritesTheFieldsUnderTheNewName) {
    s.ssh_default = 1;
    auto d = dialog();
    d->host_box()->setEditText("new.example");
    proto(*d)->setCurrentText("SSH-1");
    type_port(*d, "2200");
    edit(*d, 1042)->setText("carol");
    edit(*d, 1043)->setText("/keys/new");
    edit(*d, 1044)->setText("vt100");
    give_name(" lab ");
    d->control<QPushButton>(1047)->click();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(stored("lab", "host_name"), "new.example");
    EXPECT_EQ(stored("lab", "port"), "2200");
    EXPECT_EQ(stored("lab", "ssh"), "1");
    EXPECT_EQ(stored("lab", "ssh_type_1_2"), "0");
    EXPECT_EQ(stored("lab", "ssh_user"), "carol");
    EXPECT_EQ(stored("lab", "ssh_key_file"), "/keys/new");
    EXPECT_EQ(stored("lab", "termtype"), "vt100");
    EXPECT_EQ(listed(*d), (QStringList{"lab", "old", "work"}));
    ASSERT_NE(d->session_list()->currentItem(), nullptr);
    EXPECT_EQ(d->session_list()->currentItem()->text(), "lab");
    EXPECT_EQ(s.host_name, "one.example");  // nothing runs differently until OK

    // A name in use is refused with the reason, and nothing is written.
    const int writes = store.writes;
    give_name("work");
    d->control<QPushButton>(1047)->click();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].toStdString(), sessions::explain(sessions::outcome::exists, "work"));
    EXPECT_EQ(store.writes, writes);
    // Cancelled: nothing either.
    on_next_modal([](QDialog* in) { in->reject(); });
    d->control<QPushButton>(1047)->click();
    EXPECT_EQ(store.writes, writes);
}

TEST_F(SessionDialogTest, RenameAndDelete) {
    auto d = dialog();
    EXPECT_FALSE(d->control<QPushButton>(1048)->isEnabled());  // nothing selected yet
    select(*d, "work");
    EXPECT_TRUE(d->control<QPushButton>(1048)->isEnabled());
    give_name("office");
    d->control<QPushButton>(1048)->click();
    EXPECT_EQ(listed(*d), (QStringList{"office", "old"}));
    EXPECT_EQ(stored("office", "host_name"), "work.example");
    EXPECT_EQ(stored("work", "host_name"), "<missing>");

    select(*d, "old");
    answer(QMessageBox::No);
    d->control<QPushButton>(1049)->click();
    EXPECT_EQ(listed(*d), (QStringList{"office", "old"}));
    answer(QMessageBox::Yes);
    d->control<QPushButton>(1049)->click();
    EXPECT_EQ(listed(*d), (QStringList{"office"}));
    EXPECT_EQ(stored("old", "host_name"), "<missing>");

    // The configuration in use stays: the exit would write it again.
    s.config_name = "office";
    select(*d, "office");
    answer(QMessageBox::Yes);
    d->control<QPushButton>(1049)->click();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].toStdString(), sessions::explain(sessions::outcome::in_use, "office"));
    EXPECT_EQ(listed(*d), (QStringList{"office"}));

    // Renaming the configuration in use moves the exit's save along.
    give_name("main");
    d->control<QPushButton>(1048)->click();
    EXPECT_EQ(s.config_name, "main");
}

TEST_F(SessionDialogTest, WithoutSavingTheStoreIsOnlyRead) {
    auto d = dialog(false);
    select(*d, "work");
    for (int id : {1047, 1048, 1049}) EXPECT_FALSE(d->control<QPushButton>(id)->isEnabled()) << id;
    EXPECT_EQ(port(*d), "2222");
}

TEST_F(SessionDialogTest, DoubleClickConnectsWithTheSession) {
    std::vector<std::string> used;
    session_options o;
    o.store = &store;
    o.use = [&](const std::string& name) {
        used.push_back(name);
        switch_configuration(s, store, name, "/tmp");
    };
    gethost d(s, std::move(o));
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    select(d, "old");
    double_click(d, "work");
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.chosen_session(), "work");
    EXPECT_EQ(used, (std::vector<std::string>{"work"}));
    EXPECT_EQ(s.config_name, "work");
    EXPECT_EQ(s.host_name, "work.example");
    EXPECT_EQ(s.port, 2222);
    EXPECT_EQ(s.termtype, "xterm");

    // Without a hook of its own the dialog makes the switch itself.
    s.config_name = "1";
    session_options plain;
    plain.store = &store;
    gethost e(s, std::move(plain));
    e.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&e));
    double_click(e, "old");
    EXPECT_EQ(e.result(), QDialog::Accepted);
    EXPECT_EQ(s.config_name, "old");
    EXPECT_EQ(s.host_name, "old.example");
}

// SSH-2 leads the protocol list, and a dialog with nothing to connect to yet (no host, no history, the classic
// Telnet defaults) starts on it; whatever a configuration stored otherwise is shown as stored.
TEST_F(SessionDialogTest, AFreshDialogStartsOnSsh2) {
    const struct {
        const char* what;
        const char* host;
        const char* history;
        int ssh, ssh_type_1_2, port;
        const char* protocol;
        const char* shown_port;
    } rows[] = {
        {"fresh", "", "", 0, 0, 23, "SSH-2", "22"},
        {"a host in the history", "", "h1", 0, 0, 23, "Telnet", "23"},
        {"a stored host", "one.example", "", 0, 0, 23, "Telnet", "23"},
        {"Telnet on its own port", "", "", 0, 0, 2323, "Telnet", "2323"},
        {"stored SSH-1", "", "", 1, 0, 22, "SSH-1", "22"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        s = Settings();
        s.host_name = r.host;
        s.host_hist[0] = r.history;
        s.ssh = r.ssh;
        s.ssh_type_1_2 = r.ssh_type_1_2;
        s.port = r.port;
        auto d = dialog();
        QStringList order;
        for (int i = 0; i < proto(*d)->count(); ++i) order << proto(*d)->itemText(i);
        EXPECT_EQ(order, QStringList({"SSH-2", "SSH-1", "Telnet"}));
        EXPECT_EQ(proto(*d)->currentText(), r.protocol);
        EXPECT_EQ(port(*d), r.shown_port);
        // Shown, not stored: Cancel leaves the record as it was.
        d->reject();
        EXPECT_EQ(s.ssh, r.ssh);
        EXPECT_EQ(s.port, r.port);
    }

    // OK on the fresh dialog connects over SSH-2 to port 22.
    s = Settings();
    auto d = dialog();
    d->host_box()->setEditText("fresh.example");
    d->accept();
    EXPECT_EQ(s.host_name, "fresh.example");
    EXPECT_EQ(sessions::protocol_of(s.ssh, s.ssh_type_1_2), protocol::ssh2);
    EXPECT_EQ(s.port, 22);
}

TEST_F(SessionDialogTest, PortFollowsTheProtocolUntilTheUserTypesOne) {
    auto d = dialog();
    EXPECT_EQ(port(*d), "23");
    const struct {
        const char* protocol;
        const char* port;
    } steps[] = {{"SSH-2", "22"}, {"Telnet", "23"}, {"SSH-1", "22"}, {"Telnet", "23"}};
    for (const auto& step : steps) {
        proto(*d)->setCurrentText(step.protocol);
        EXPECT_EQ(port(*d), step.port) << step.protocol;
    }
    type_port(*d, "2323");
    proto(*d)->setCurrentText("SSH-2");
    EXPECT_EQ(port(*d), "2323");
    // Picking a session brings its own port, and the protocol leads again.
    select(*d, "old");
    proto(*d)->setCurrentText("Telnet");
    EXPECT_EQ(port(*d), "23");
}

// The SSH port warning: for a port the user typed away from 22, once; never for one the protocol or a session
// put there.
TEST_F(SessionDialogTest, TheSshPortWarningFollowsOnlyATypedPort) {
    const struct {
        const char* what;
        std::function<void(gethost&)> act;
        int warnings;
    } rows[] = {
        {"SSH chosen, port follows", [](gethost& d) { proto(d)->setCurrentText("SSH-2"); }, 0},
        {"session with port 2222", [](gethost& d) { select(d, "work"); }, 0},
        {"typed 2222 with SSH",
         [](gethost& d) {
             proto(d)->setCurrentText("SSH-2");
             type_port(d, "2222");
         },
         1},
        {"typed 22 with SSH",
         [](gethost& d) {
             proto(d)->setCurrentText("SSH-1");
             type_port(d, "22");
         },
         0},
        {"typed 2323 with Telnet", [](gethost& d) { type_port(d, "2323"); }, 0},
        {"typed in Advanced",
         [](gethost& d) {
             proto(d)->setCurrentText("SSH-2");
             on_next_modal([](QDialog* a) {
                 static_cast<gethost_ad*>(a)->control<QLineEdit>(1001)->setText("2200");
                 a->accept();
             });
             d.advanced();
             EXPECT_EQ(port(d), "2200");
         },
         1},  // told at Advanced's OK, not again at Connect's
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        messages.clear();
        s.ssh = 0;
        auto d = dialog();
        r.act(*d);
        d->accept();
        EXPECT_EQ(d->result(), QDialog::Accepted);
        EXPECT_EQ(messages.size(), r.warnings);
        for (const auto& m : messages) EXPECT_EQ(m.toStdString(), ssh_port_warning_text);
    }
}

// Cancel, at whatever depth, leaves the store and the record the exit writes byte for byte as they were.
TEST_F(SessionDialogTest, CancelLeavesTheStoreAndTheSettingsAsTheyWere) {
    const struct {
        const char* what;
        std::function<void(gethost&)> act;
    } rows[] = {
        {"Tunnels OK on a picked session",
         [](gethost& d) {
             select(d, "work");
             tunnels(d, true);
         }},
        {"Tunnels OK on the configuration in use", [](gethost& d) { tunnels(d, true); }},
        {"Tunnels cancelled", [](gethost& d) { tunnels(d, false); }},
        {"Advanced OK on a picked session, SSH choices too",
         [](gethost& d) {
             select(d, "old");
             on_next_modal([](QDialog* a) {
                 auto* ad = static_cast<gethost_ad*>(a);
                 ad->control<QRadioButton>(1030)->setChecked(true);
                 ad->control<QRadioButton>(1028)->setChecked(true);
                 ad->control<QSpinBox>(1036)->setValue(30);
                 ad->accept();
             });
             d.advanced();
         }},
        {"Advanced OK, choices beyond the classic ones", [](gethost& d) { advanced_beyond_classic(d, true); }},
        {"Advanced cancelled", [](gethost& d) { advanced_beyond_classic(d, false); }},
        {"New, then Tunnels OK",
         [](gethost& d) {
             d.control<QPushButton>(1046)->click();
             tunnels(d, true);
         }},
        {"Save As cancelled",
         [](gethost& d) {
             tunnels(d, true);
             on_next_modal([](QDialog* in) { in->reject(); });
             d.control<QPushButton>(1047)->click();
         }},
        {"Rename cancelled",
         [](gethost& d) {
             select(d, "work");
             on_next_modal([](QDialog* in) { in->reject(); });
             d.control<QPushButton>(1048)->click();
         }},
        {"Delete answered No",
         [](gethost& d) {
             select(d, "work");
             answer(QMessageBox::No);
             d.control<QPushButton>(1049)->click();
         }},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const auto stored_before = store.values;
        const auto exit_before = exit_dump(s);
        const int writes = store.writes;
        auto d = dialog();
        r.act(*d);
        d->reject();
        EXPECT_EQ(store.values, stored_before);
        EXPECT_EQ(store.writes, writes);
        EXPECT_EQ(exit_dump(s), exit_before);
    }
}

// Agent forwarding and forwards chosen for one session never reach a connection with another: a connection takes
// them from the session it is made with, and that session alone keeps them.
TEST_F(SessionDialogTest, AConnectionsForwardingComesOnlyFromItsOwnSession) {
    store.write_int(config_section("work"), "ssh_agent_forward", 1);
    store.write_text(config_section("work"), "ssh_forwards", "L2222:127.0.0.1:22");
    const std::string one_forwards = stored("1", "ssh_forwards");
    const std::string one_agent = stored("1", "ssh_agent_forward");
    const struct {
        const char* what;
        std::function<void(gethost&)> act;
        bool ok;
        const char* config;
        int agent;
        const char* forwards;
    } rows[] = {
        {"agent ticked for old, Connect cancelled",
         [](gethost& d) {
             select(d, "old");
             tunnels(d, true);
         },
         false, "1", 0, ""},
        {"a typed host runs in the configuration in use",
         [](gethost& d) { d.host_box()->setEditText("other.example"); }, true, "1", 0, ""},
        {"work picked: its own agent and forward", [](gethost& d) { select(d, "work"); }, true, "work", 1,
         "L2222:127.0.0.1:22"},
        {"old picked after work, with a tunnel of its own",
         [](gethost& d) {
             select(d, "old");
             tunnels(d, true, "9090");
         },
         true, "old", 1, "L9090:127.0.0.1:80"},
        {"work again: old's tunnel stays with old", [](gethost& d) { select(d, "work"); }, true, "work", 1,
         "L2222:127.0.0.1:22"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        auto d = dialog();
        r.act(*d);
        r.ok ? d->accept() : d->reject();
        EXPECT_EQ(s.config_name, r.config);
        EXPECT_EQ(s.ssh_agent_forward, r.agent);
        EXPECT_EQ(s.ssh_forwards, r.forwards);
        // The exit saves the record in use under its own name.
        write_configuration(s, store, s.config_name);
    }
    // The default configuration, which a later `ssh://` start runs with, never took any of them.
    EXPECT_EQ(stored("1", "ssh_forwards"), one_forwards);
    EXPECT_EQ(stored("1", "ssh_agent_forward"), one_agent);
    Settings later;
    read_configuration(later, store, "1", "/tmp", false);
    EXPECT_EQ(later.ssh_agent_forward, 0);
    EXPECT_EQ(later.ssh_forwards, "");
    EXPECT_EQ(stored("old", "ssh_forwards"), "L9090:127.0.0.1:80");
    EXPECT_EQ(stored("work", "ssh_forwards"), "L2222:127.0.0.1:22");
}

// A mouse press makes the item current before it selects it; the buttons must still see the selection.
TEST_F(SessionDialogTest, AMouseClickOnASessionEnablesRenameAndDelete) {
    auto d = dialog();
    d->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(d.get()));
    for (const char* name : {"work", "old"}) {
        SCOPED_TRACE(name);
        const auto found = d->session_list()->findItems(QString::fromLatin1(name), Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        QTest::mouseClick(d->session_list()->viewport(), Qt::LeftButton, {},
                          d->session_list()->visualItemRect(found.front()).center());
        EXPECT_EQ(d->shown_session(), name);
        EXPECT_TRUE(d->control<QPushButton>(1048)->isEnabled());
        EXPECT_TRUE(d->control<QPushButton>(1049)->isEnabled());
    }
    d->control<QPushButton>(1046)->click();
    EXPECT_FALSE(d->control<QPushButton>(1048)->isEnabled());
    EXPECT_FALSE(d->control<QPushButton>(1049)->isEnabled());
}

// A session saved without a remembered password still comes back with its user name.
TEST_F(SessionDialogTest, SaveAsKeepsTheUserNameWithoutRemember) {
    s.ssh_default = 0;
    auto d = dialog();
    d->host_box()->setEditText("host.example");
    proto(*d)->setCurrentText("SSH-2");
    edit(*d, 1042)->setText("sshtest");
    give_name("tester");
    d->control<QPushButton>(1047)->click();
    d->control<QPushButton>(1046)->click();
    EXPECT_EQ(edit(*d, 1042)->text(), "");
    select(*d, "tester");
    EXPECT_EQ(edit(*d, 1042)->text(), "sshtest");
    EXPECT_EQ(d->host_box()->currentText(), "host.example");
}

}  // namespace

// The hosts of ~/.ssh/config are offered after the history, each once; picking one on Telnet turns to SSH-2, and
// nothing of them is stored unless the user connects.
TEST_F(SessionDialogTest, TheSshConfigsHostsAreOfferedAndTurnTelnetToSsh) {
    s = Settings();
    s.host_name = "one.example";
    s.host_hist[0] = "one.example";
    session_options o;
    o.store = &store;
    o.ssh_hosts = {"web", "one.example"};
    gethost d(s, std::move(o));
    auto* hosts = d.control<QComboBox>(1016);
    QStringList offered;
    for (int i = 0; i < hosts->count(); ++i) offered << hosts->itemText(i);
    EXPECT_EQ(offered, (QStringList{"one.example", "web"}));
    EXPECT_EQ(proto(d)->currentText(), "Telnet");
    hosts->setCurrentIndex(1);
    EXPECT_EQ(hosts->currentText(), "web");
    EXPECT_EQ(proto(d)->currentText(), "SSH-2");
    EXPECT_EQ(port(d), "22");
    d.reject();
    EXPECT_EQ(s.host_name, "one.example");
    EXPECT_EQ(s.ssh, 0);
}
