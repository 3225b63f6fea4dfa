// Connect - Tunnels: the forwards list as stored, adding and removing entries, agent forwarding's warning.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include "config/settings.h"
#include "dialogs/connect_dialogs.h"
#include "dialogs/tunnels_dialog.h"
#include "../support/qt_test_support.h"

namespace {

struct TunnelsTest : ::testing::Test {
    Settings s;
    QStringList messages;

    void SetUp() override {
        qt_test_support::test_app();
        hooks().message = [this](QWidget*, const QString& t) { messages << t; };
    }
    void TearDown() override {
        hooks().message = [](QWidget*, const QString&) {};
    }

    static QStringList shown(gethost_tunnels& d) {
        QStringList out;
        auto* l = d.control<QListWidget>(1050);
        for (int i = 0; i < l->count(); ++i) out << l->item(i)->text();
        return out;
    }
    static void add(gethost_tunnels& d, int kind, const char* listen, const char* destination) {
        d.control<QComboBox>(1051)->setCurrentIndex(kind);
        d.control<QLineEdit>(1052)->setText(QString::fromLatin1(listen));
        d.control<QLineEdit>(1053)->setText(QString::fromLatin1(destination));
        d.control<QPushButton>(1054)->click();
    }
};

TEST_F(TunnelsTest, StoredListIsShownAndUnreadableEntriesAreNamedThenDropped) {
    s.ssh_forwards = "L8080:127.0.0.1:80,bogus,D1080";
    gethost_tunnels d(s);
    EXPECT_EQ(shown(d), (QStringList{"127.0.0.1:8080 -> 127.0.0.1:80", "127.0.0.1:1080 (SOCKS)"}));
    bool named = false;
    for (auto* l : d.findChildren<QLabel*>()) named = named || (l->text().contains("bogus") && !l->isHidden());
    EXPECT_TRUE(named);
    d.accept();
    EXPECT_EQ(s.ssh_forwards, "L8080:127.0.0.1:80,D1080");
    QFile help(QStringLiteral(SOURCE_DIR "/dist/help/qtelnet.html"));
    ASSERT_TRUE(help.open(QIODevice::ReadOnly));
    EXPECT_TRUE(help.readAll().contains("id=\"tunnels\""));
}

TEST_F(TunnelsTest, AddRemoveAndCancel) {
    s.ssh_forwards = "D1080";
    {
        gethost_tunnels d(s);
        add(d, 1, "9000", "127.0.0.1:22");
        add(d, 0, "8080", "web");  // no destination port
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].startsWith("This forward cannot be used: ")) << messages[0].toStdString();
        EXPECT_EQ(d.control<QLineEdit>(1053)->text(), "web");  // kept for mending
        add(d, 2, "[::1]:1081", "");
        EXPECT_FALSE(d.control<QLineEdit>(1053)->isEnabled());
        EXPECT_EQ(shown(d),
                  (QStringList{"127.0.0.1:1080 (SOCKS)", "host 127.0.0.1:9000 -> 127.0.0.1:22", "[::1]:1081 (SOCKS)"}));
        d.control<QListWidget>(1050)->setCurrentRow(0);
        d.control<QPushButton>(1055)->click();
        d.reject();
    }
    EXPECT_EQ(s.ssh_forwards, "D1080");
    {
        gethost_tunnels d(s);
        add(d, 1, "9000", "127.0.0.1:22");
        d.control<QListWidget>(1050)->setCurrentRow(0);
        d.control<QPushButton>(1055)->click();
        d.accept();
    }
    EXPECT_EQ(s.ssh_forwards, "R9000:127.0.0.1:22");
}

TEST_F(TunnelsTest, AgentForwardingWarnsWhenTurnedOn) {
    gethost_tunnels d(s);
    auto* agent = d.control<QCheckBox>(1056);
    ASSERT_NE(agent, nullptr);
    EXPECT_FALSE(agent->isChecked());
    agent->setChecked(true);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], agent_forward_warning_text);
    agent->setChecked(false);
    agent->setChecked(true);
    EXPECT_EQ(messages.size(), 2);
    d.accept();
    EXPECT_EQ(s.ssh_agent_forward, 1);
}

// While connected, the running tunnels are listed with their state and byte counts, and kept current.
TEST_F(TunnelsTest, ActiveTunnelsAreListedWithTheirCounts) {
    std::vector<fwd::forwarder::status> now{{"127.0.0.1:8080 -> web:80", "listening", 1, 12, 3}};
    gethost_tunnels d(s, nullptr, [&] { return now; });
    auto* l = d.control<QListWidget>(1057);
    ASSERT_NE(l, nullptr);
    ASSERT_EQ(l->count(), 1);
    EXPECT_EQ(l->item(0)->text(), "127.0.0.1:8080 -> web:80  listening, 1 open, 12 B sent, 3 B received");
    now.push_back({"host 127.0.0.1:9000 -> 127.0.0.1:22", "failed: the host refused to listen", 0, 0, 0});
    d.refresh_active();
    ASSERT_EQ(l->count(), 2);
    EXPECT_EQ(l->item(1)->text(),
              "host 127.0.0.1:9000 -> 127.0.0.1:22  failed: the host refused to listen, 0 open, 0 B "
              "sent, 0 B received");
    now.clear();
    d.refresh_active();
    EXPECT_EQ(l->item(0)->text(), "(none)");
    gethost_tunnels offline(s);
    EXPECT_EQ(offline.control<QListWidget>(1057), nullptr) << "no list without a connection";
}

// The Connect dialog's button opens it; its OK stores into Connect's draft, which Connect's own OK stores.
TEST_F(TunnelsTest, ConnectDialogOpensIt) {
    gethost h(s);
    auto* b = h.control<QPushButton>(1019);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->text(), "&Tunnels...");
    QTimer::singleShot(0, [this] {
        auto* d = qobject_cast<gethost_tunnels*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        add(*d, 0, "2222", "[::1]:22");
        d->accept();
    });
    b->click();
    EXPECT_EQ(s.ssh_forwards, "");
    h.accept();
    ASSERT_EQ(h.result(), QDialog::Accepted);
    EXPECT_EQ(s.ssh_forwards, "L2222:[::1]:22");
}

}  // namespace
