// Hyperlinks opened from the terminal (Ctrl+click and the context menu, always after the user has seen the URI, only
// for web and mail schemes) and the bell (sound, the visual flash, the urgency request of an inactive window), with
// the desktop's opener, the sound and the urgency request recorded instead of run.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QUrl>
#include <string>
#include <vector>

#include "config/settings.h"
#include "view/view_mouse.h"
#include "view_fixture.h"

namespace {

struct link_fixture : view_fixture {
    std::vector<std::string> opened;
    int sounds = 0;
    std::vector<QWidget*> alerts;

    void SetUp() override {
        view_fixture::SetUp();
        view->link_opener = [this](const QUrl& u) { opened.push_back(u.toEncoded().toStdString()); };
        view->bell_sound = [this] { ++sounds; };
        view->bell_alert = [this](QWidget* w) { alerts.push_back(w); };
        settings().termtype = "xterm";
        ASSERT_TRUE(view->connect_to("127.0.0.1", 23));
    }
    // "link" at row 1, columns 1..4, leading to `uri`; plain text after it.
    void show_link(const std::string& uri) {
        host("\x1b[H\x1b[2J\x1b]8;;" + uri + "\x1b\\link\x1b]8;;\x1b\\ plain");
        ui.questions.clear();
        ui.messages.clear();
        opened.clear();
    }
    void click(int row, int col, Qt::KeyboardModifiers mods) {
        QTest::mouseClick(view.get(), Qt::LeftButton, mods, cell(row, col).center());
    }
};

TEST_F(link_fixture, CtrlClickShowsTheLinkAndOpensOnlyWebAndMailLinks) {
    struct row {
        const char* uri;
        const char* opens;  // nullptr: refused without a question
    };
    const row rows[] = {
        {"https://example.org/a?b=c#d", "https://example.org/a?b=c#d"},
        {"http://example.org/", "http://example.org/"},
        {"ftp://ftp.example.org/pub/", "ftp://ftp.example.org/pub/"},
        {"mailto:someone@example.org", "mailto:someone@example.org"},
        // Shown as opened: scheme and host in lower case, an international domain as punycode.
        {"HTTPS://Example.ORG/x", "https://example.org/x"},
        {"https://b\xc3\xbc"
         "cher.example/",
         "https://xn--bcher-kva.example/"},
        {"file:///etc/passwd", nullptr},
        {"file://otherhost/home/user/run.desktop", nullptr},
        {"javascript:alert(1)", nullptr},
        {"ssh://host.example/", nullptr},
        {"http:///no-host", nullptr},
        {"mailto:", nullptr},
        {"example.org/no-scheme", nullptr},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.uri);
        show_link(r.uri);
        click(1, 2, Qt::ControlModifier);
        if (!r.opens) {
            EXPECT_TRUE(ui.questions.empty());
            ASSERT_EQ(ui.messages.size(), 1u);
            EXPECT_NE(ui.messages[0].find(r.uri), std::string::npos) << ui.messages[0];
            EXPECT_TRUE(opened.empty());
            continue;
        }
        ASSERT_EQ(ui.questions.size(), 1u);
        EXPECT_NE(ui.questions[0].find(r.opens), std::string::npos) << ui.questions[0];
        EXPECT_EQ(opened, std::vector<std::string>{r.opens});
        EXPECT_FALSE(view->mouse().has_selection()) << "the click went to the link";
    }
}

TEST_F(link_fixture, NothingOpensWithoutCtrlOrTheUsersYes) {
    show_link("https://example.org/");
    click(1, 2, Qt::NoModifier);
    click(1, 8, Qt::ControlModifier);  // plain text beside the link
    EXPECT_TRUE(ui.questions.empty());
    EXPECT_TRUE(opened.empty());
    ui.answer = false;
    click(1, 2, Qt::ControlModifier);
    EXPECT_EQ(ui.questions.size(), 1u);
    EXPECT_TRUE(opened.empty()) << "the user said no";
    ui.answer = true;
}

TEST_F(link_fixture, ContextMenuOffersTheLinkUnderThePointer) {
    show_link("https://example.org/menu");
    auto on_link = view->mouse().make_context_menu(QPoint(3, 1));
    ASSERT_FALSE(on_link->actions().isEmpty());
    QAction* open = on_link->actions().first();
    EXPECT_EQ(open->text(), "Open Link...");
    open->trigger();
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(opened, std::vector<std::string>{"https://example.org/menu"});
    auto off_link = view->mouse().make_context_menu(QPoint(8, 1));
    for (QAction* a : off_link->actions()) EXPECT_NE(a->text(), "Open Link...");
}

TEST_F(link_fixture, BellSoundsOrFlashesAndAsksForAttentionOnlyWhenInactive) {
    QWidget other;
    other.show();
    for (int visual : {0, 1}) {
        for (bool active : {false, true}) {
            SCOPED_TRACE(std::to_string(visual) + (active ? " active" : " inactive"));
            settings().visual_bell = visual;
            view->settings_changed();
            QApplication::setActiveWindow(active ? static_cast<QWidget*>(view.get()) : &other);
            ASSERT_EQ(view->isActiveWindow(), active);
            sounds = 0;
            alerts.clear();
            const QImage before = shot();
            const QRect blank = cell(12, 40);
            ASSERT_EQ(count(before, blank, BG), area(blank));
            host("\a");
            EXPECT_EQ(sounds, visual ? 0 : 1);
            EXPECT_EQ(alerts, active ? std::vector<QWidget*>{} : std::vector<QWidget*>{view.get()});
            EXPECT_EQ(view->flashing(), visual == 1);
            if (visual) {
                EXPECT_EQ(count(shot(), blank, FG), area(blank)) << "the flash inverts the paper";
                ASSERT_TRUE(QTest::qWaitFor([&] { return !view->flashing(); }, 5000));
                EXPECT_EQ(shot(), before);
            }
        }
    }
    settings().bell = 0;
    view->settings_changed();
    sounds = 0;
    for (int visual : {0, 1}) {
        settings().visual_bell = visual;
        view->settings_changed();
        host("\a");
        EXPECT_FALSE(view->flashing()) << "the bell setting off rings nothing";
        EXPECT_EQ(sounds, 0);
    }
}

}  // namespace
