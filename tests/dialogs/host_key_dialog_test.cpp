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

// A key from a host certificate that did not stand: the certificate's ID, serial and CA are shown beside the key
// (as plain text, like the rest), and without one none of those rows is there.
TEST(HostKeyDialog, ShowsTheCertificateTheKeyCameIn) {
    qt_test_support::test_app();
    const ssh::host_certificate_facts cert{"<i>web-1</i>", 4294967301u, "ssh-ed25519", "SHA256:ca+/x",
                                           "it has expired"};
    for (const ssh::host_certificate_facts* c : {&cert, static_cast<const ssh::host_certificate_facts*>(nullptr)}) {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            ran = true;
            auto* id = d->findChild<QLabel*>("certificate_id");
            auto* serial = d->findChild<QLabel*>("certificate_serial");
            auto* ca = d->findChild<QLabel*>("ca_fingerprint");
            if (c) {
                ASSERT_TRUE(id && serial && ca);
                EXPECT_EQ(id->text(), "<i>web-1</i>");
                EXPECT_EQ(id->textFormat(), Qt::PlainText);
                EXPECT_EQ(serial->text(), "4294967301");
                EXPECT_EQ(ca->text(), "ssh-ed25519 SHA256:ca+/x");
            } else {
                EXPECT_FALSE(id || serial || ca);
            }
            button(d, "Cancel")->click();
        });
        EXPECT_EQ(ask_host_key("question", "h.example", "ssh-ed25519", "SHA256:abc", nullptr, c),
                  ssh::host_key_answer::cancel);
        EXPECT_TRUE(ran);
    }
}

}  // namespace
