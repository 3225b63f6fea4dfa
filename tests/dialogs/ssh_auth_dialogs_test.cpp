// The key passphrase and keyboard-interactive questions: what they show, hidden fields, and that only OK (by button
// or Enter) hands the typed text back. The wait for work on a worker thread: the windows keep running, and every
// way out of its progress dialog cancels the work and waits for it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "../support/qt_test_support.h"
#include "config/settings.h"
#include "dialogs/ssh_auth_dialogs.h"
#include "session/profile.h"

namespace {

struct way_out {
    const char* what;
    std::function<void(QDialog*)> act;
    bool answered;
};
const way_out ways_out[] = {
    {"OK", [](QDialog* d) { d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click(); }, true},
    {"Enter", [](QDialog* d) { QTest::keyClick(d->findChildren<QLineEdit*>().first(), Qt::Key_Return); }, true},
    {"Cancel", [](QDialog* d) { d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click(); }, false},
    {"Escape", [](QDialog* d) { QTest::keyClick(d, Qt::Key_Escape); }, false},
};

// Runs `check` on the modal dialog once `ask` has opened it.
template <class Ask>
auto with_dialog(std::function<void(QDialog*)> check, Ask ask) {
    bool ran = false;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        ran = true;
        check(d);
    });
    auto result = ask();
    EXPECT_TRUE(ran);
    return result;
}

bool shows(QDialog* d, const QString& text) {
    for (auto* l : d->findChildren<QLabel*>())
        if (l->text() == text) return true;
    return false;
}

TEST(SshAuthDialogs, KeyPassphrase) {
    qt_test_support::test_app();
    for (const auto& w : ways_out) {
        const auto got = with_dialog(
            [&](QDialog* d) {
                EXPECT_TRUE(shows(d, "Passphrase for key /home/u/.ssh/<b>id</b>&x:"));
                auto* e = d->findChild<QLineEdit*>("passphrase");
                ASSERT_NE(e, nullptr);
                EXPECT_EQ(e->echoMode(), QLineEdit::Password);
                QTest::keyClicks(e, "pass phrase");
                e->insert(QString::fromUtf8("\xc3\xa4"));
                w.act(d);
            },
            [] { return ask_key_passphrase("/home/u/.ssh/<b>id</b>&x"); });
        if (w.answered)
            EXPECT_EQ(got, std::optional<std::string>("pass phrase\xc3\xa4")) << w.what;
        else
            EXPECT_FALSE(got) << w.what;
    }
}

// The negotiated mode's password dialog: the name the host has been told is shown but cannot be typed over, and
// comes back unchanged whatever the field holds; only OK hands back the password and the remember box.
TEST(SshAuthDialogs, SignOnPasswordKeepsTheName) {
    qt_test_support::test_app();
    for (const auto& w : ways_out) {
        ssh_profile s;
        s.ssh_user = "carol";
        s.ssh_password.clear();
        s.ssh_default = 0;
        const bool got = with_dialog(
            [&](QDialog* d) {
                auto* user = d->findChildren<QLineEdit*>().first();
                EXPECT_EQ(user->text(), "carol");
                QTest::keyClicks(user, "mallory");
                EXPECT_EQ(user->text(), "carol") << "typed over";
                auto* pass = qobject_cast<QLineEdit*>(d->focusWidget());
                ASSERT_NE(pass, nullptr) << "the password field has the focus";
                EXPECT_EQ(pass->echoMode(), QLineEdit::Password);
                QTest::keyClicks(pass, "pw 1");
                user->setText("mallory");
                w.act(d);
            },
            [&] { return ask_sign_on_password(s); });
        EXPECT_EQ(got, w.answered) << w.what;
        EXPECT_EQ(s.ssh_user, "carol") << w.what;
        EXPECT_EQ(s.ssh_password, w.answered ? "pw 1" : "") << w.what;
    }
}

TEST(SshAuthDialogs, KeyboardInteractiveRound) {
    qt_test_support::test_app();
    const std::vector<ssh::kbd_prompt> prompts = {{"Password: ", false}, {"Code <i>1</i>: ", true}, {"PIN: ", false}};
    for (const auto& w : ways_out) {
        const auto got = with_dialog(
            [&](QDialog* d) {
                EXPECT_EQ(d->windowTitle(), "host.example");
                EXPECT_EQ(d->findChild<QLabel*>("instruction")->text(), "Answer <b>all</b>");
                for (const auto& p : prompts) EXPECT_TRUE(shows(d, QString::fromStdString(p.text))) << p.text;
                for (std::size_t i = 0; i < prompts.size(); ++i) {
                    auto* e = d->findChild<QLineEdit*>(QStringLiteral("answer%1").arg(i));
                    ASSERT_NE(e, nullptr);
                    EXPECT_EQ(e->echoMode(), prompts[i].echo ? QLineEdit::Normal : QLineEdit::Password) << i;
                    QTest::keyClicks(e, QStringLiteral("a%1").arg(i));
                }
                w.act(d);
            },
            [&] { return ask_keyboard_interactive("host.example", "Answer <b>all</b>", prompts); });
        if (w.answered)
            EXPECT_EQ(got, (std::optional<std::vector<std::string>>({"a0", "a1", "a2"}))) << w.what;
        else
            EXPECT_FALSE(got) << w.what;
    }
    // No name and no instruction: a title all the same, and no empty text line.
    with_dialog(
        [](QDialog* d) {
            EXPECT_FALSE(d->windowTitle().isEmpty());
            EXPECT_EQ(d->findChild<QLabel*>("instruction"), nullptr);
            QTest::keyClick(d, Qt::Key_Escape);
        },
        [] {
            return ask_keyboard_interactive("", "", {{"Verification code: ", true}});
        });
}

// Work that runs until its cancel flag is set (bounded, should the flag never come) and says whether it saw it.
struct endless_work {
    std::atomic<bool> saw_cancel{false};
    std::thread::id thread;
    void operator()(const std::atomic<bool>& cancel) {
        thread = std::this_thread::get_id();
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!cancel && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        saw_cancel = cancel.load();
    }
};

TEST(SshAuthDialogs, WorkOffTheUiThreadWithProgress) {
    qt_test_support::test_app();
    // Quick work: on another thread, done, and no dialog at all.
    std::thread::id quick;
    EXPECT_TRUE(run_with_progress("quick", [&](const std::atomic<bool>&) { quick = std::this_thread::get_id(); }));
    EXPECT_NE(quick, std::thread::id());
    EXPECT_NE(quick, std::this_thread::get_id());

    const std::function<void(QProgressDialog*)> ways[] = {
        [](QProgressDialog* d) { d->findChild<QPushButton*>()->click(); },
        [](QProgressDialog* d) { QTest::keyClick(d, Qt::Key_Escape); },
        [](QProgressDialog* d) { d->close(); },
    };
    for (const auto& way : ways) {
        endless_work work;
        int ticks = 0;  // the UI thread's own timers go on while the work runs
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
        tick.start(5);
        QString shown;
        bool found = false;
        QTimer::singleShot(500, [&] {
            auto* d = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            found = true;
            shown = d->findChild<QLabel*>()->textFormat() == Qt::PlainText ? d->labelText() : "(markup)";
            way(d);
        });
        EXPECT_FALSE(run_with_progress("Deriving the key of /k/<b>id</b> from its passphrase...", std::ref(work)));
        EXPECT_TRUE(found);
        EXPECT_TRUE(work.saw_cancel) << "the work was told and had returned";
        EXPECT_EQ(shown, "Deriving the key of /k/<b>id</b> from its passphrase...");
        EXPECT_GT(ticks, 5);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }

    // Work that ends by itself while the dialog shows: the dialog goes away, and the work counts as done.
    bool was_shown = false;
    QTimer::singleShot(350, [&] { was_shown = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget()); });
    EXPECT_TRUE(run_with_progress(
        "slow", [](const std::atomic<bool>&) { std::this_thread::sleep_for(std::chrono::milliseconds(700)); }));
    EXPECT_TRUE(was_shown);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
