// The unknown-host-key question: what it shows, and that each way out gives its own answer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>

#include "dialogs/host_key_dialog.h"
#include "../support/qt_test_support.h"

namespace {

QPushButton* button(QDialog* d, const QString& text) {
    for (auto* b : d->findChildren<QPushButton*>())
        if (b->text() == text) return b;
    return nullptr;
}

TEST(HostKeyDialog, ShowsTheKeyAndAnswersByButton) {
    qt_test_support::test_app();
    const struct {
        const char* what;
        std::function<void(QDialog*)> act;
        ssh::host_key_answer want;
    } rows[] = {
        {"Accept once", [](QDialog* d) { button(d, "Accept once")->click(); }, ssh::host_key_answer::accept_once},
        {"Accept and remember", [](QDialog* d) { button(d, "Accept and remember")->click(); },
         ssh::host_key_answer::accept_and_remember},
        {"Cancel", [](QDialog* d) { button(d, "Cancel")->click(); }, ssh::host_key_answer::cancel},
        {"Escape", [](QDialog* d) { QTest::keyClick(d, Qt::Key_Escape); }, ssh::host_key_answer::cancel},
        {"Enter", [](QDialog* d) { QTest::keyClick(d, Qt::Key_Return); }, ssh::host_key_answer::cancel},
    };
    for (const auto& r : rows) {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            ran = true;
            EXPECT_EQ(d->windowTitle(), "Unknown host key");
            EXPECT_EQ(d->findChild<QLabel*>("host")->text(), "[h.example]:2222");
            EXPECT_EQ(d->findChild<QLabel*>("type")->text(), "ssh-ed25519");
            EXPECT_EQ(d->findChild<QLabel*>("fingerprint")->text(), "SHA256:abc+/x");
            EXPECT_TRUE(button(d, "Cancel")->isDefault());
            bool explained = false;
            for (auto* l : d->findChildren<QLabel*>()) explained |= l->text() == "<b>not markup</b>";
            EXPECT_TRUE(explained);
            r.act(d);
        });
        EXPECT_EQ(ask_host_key("<b>not markup</b>", "[h.example]:2222", "ssh-ed25519", "SHA256:abc+/x"), r.want)
            << r.what;
        EXPECT_TRUE(ran) << r.what;
    }
}

}  // namespace
