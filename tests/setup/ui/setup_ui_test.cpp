#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QFontInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "../fakes.h"
#include "../setup_fixture.h"
#include "config/memory_backend.h"
#include "setup/ui/setup_pages_qt.h"
#include "setup/ui/setup_window.h"

namespace {

// Answers modal pages as they open: checks each page's title, may inspect or change it, then clicks a button.
class page_driver {
public:
    struct step {
        QString title;
        QString button;
        std::function<void(QWidget*)> inspect = nullptr;
    };

    explicit page_driver(std::vector<step> script) : script_(std::move(script)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start(5);
    }

    std::vector<QString> titles;
    bool script_done() const { return next_ == script_.size(); }

private:
    void poll() {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || w == last_ || !w->isVisible()) return;
        last_ = w;
        titles.push_back(w->windowTitle());
        if (next_ >= script_.size()) {
            ADD_FAILURE() << "unexpected page " << w->windowTitle().toStdString();
            static_cast<QDialog*>(w)->reject();
            return;
        }
        const step& s = script_[next_++];
        EXPECT_EQ(w->windowTitle(), s.title);
        if (s.inspect) s.inspect(w);
        for (QPushButton* b : w->findChildren<QPushButton*>())
            if (b->text() == s.button) {
                b->click();
                return;
            }
        ADD_FAILURE() << "no button " << s.button.toStdString() << " on " << s.title.toStdString();
        static_cast<QDialog*>(w)->reject();
    }

    std::vector<step> script_;
    size_t next_ = 0;
    QWidget* last_ = nullptr;
    QTimer timer_;
};

bool has_label(QWidget* w, const QString& text) {
    for (QLabel* l : w->findChildren<QLabel*>())
        if (l->text() == text) return true;
    return false;
}

class SetupPages : public temp_home {
protected:
    setup_locations where;
    recording_shell shell;
    void SetUp() override {
        temp_home::SetUp();
        where = make_source();
    }
    fs::path dest() const { return root / "home/.local/share/QuillSoft/qtelnet"; }
};

TEST_F(SetupPages, NextAndBackWalkTheInstallPages) {
    page_driver driver({
        {"Welcome", "Next", [](QWidget* w) { EXPECT_TRUE(has_label(w, "Version 6.3")); }},
        {"License Agreement", "< Back",
         [](QWidget* w) {
             auto* t = w->findChild<QPlainTextEdit*>("licence");
             ASSERT_NE(t, nullptr);
             EXPECT_TRUE(t->isReadOnly());
             EXPECT_EQ(t->toPlainText(), "MIT licence text\n");
             // The licence's own line breaks, never re-wrapped, and room for its 80 columns.
             EXPECT_EQ(t->lineWrapMode(), QPlainTextEdit::NoWrap);
             EXPECT_TRUE(QFontInfo(t->font()).fixedPitch());
             EXPECT_GE(t->viewport()->width(), t->fontMetrics().horizontalAdvance(QString(80, 'M')));
         }},
        {"Welcome", "Next"},
        {"License Agreement", "Yes"},
        {"Start Installation", "< Back",
         [this](QWidget* w) {
             EXPECT_EQ(w->findChild<QLineEdit*>("destination")->text().toStdString(), dest().string());
             for (QCheckBox* c : w->findChildren<QCheckBox*>()) {
                 EXPECT_TRUE(c->isChecked());
                 c->setChecked(false);
             }
         }},
        {"License Agreement", "Yes"},
        {"Start Installation", "Install",
         [](QWidget* w) {
             // Choices made before going back are still there.
             for (QCheckBox* c : w->findChildren<QCheckBox*>()) EXPECT_FALSE(c->isChecked()) << c->text().toStdString();
         }},
        {"Installation Completed", "View README file"},
    });
    // The completed page stays open after "View README file"; a second driver step closes it.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        QWidget* w = QApplication::activeModalWidget();
        if (driver.script_done() && w && w->windowTitle() == "Installation Completed" && !shell.viewed.empty())
            for (QPushButton* b : w->findChildren<QPushButton*>())
                if (b->text() == "Ok") b->click();
    });
    closer.start(5);

    qt_setup_pages pages(nullptr);
    EXPECT_EQ(run_install(where, false, pages, shell), setup_outcome::done);
    EXPECT_TRUE(driver.script_done());
    EXPECT_EQ(shell.viewed, std::vector<std::string>{(dest() / "README.TXT").string()});
    EXPECT_EQ(shell.opened, std::vector<std::string>{dest().string()});
    EXPECT_TRUE(fs::exists(dest() / "qtelnet"));
}

TEST_F(SetupPages, OverwriteQuestionOffersNoAndYesToAll) {
    qt_setup_pages silent_pages(nullptr);
    ASSERT_EQ(run_install(where, true, silent_pages, shell), setup_outcome::done);
    for (const char* f : {"keys.map", "pctonet.map", "nettopc.map"}) spit(dest() / f, "user");

    auto check = [this](QWidget* w) {
        EXPECT_TRUE(has_label(w, "File already exists. Should it be overwritten ?"));
        auto* name = w->findChild<QLineEdit*>("file_name");
        ASSERT_NE(name, nullptr);
        EXPECT_TRUE(name->isReadOnly());
        EXPECT_EQ(name->text().toStdString(), (dest() / "keys.map").string());
    };
    page_driver driver({{"Welcome", "Next"},
                        {"License Agreement", "Yes"},
                        {"Start Installation", "Install"},
                        {"Warning!", "NO", check},
                        {"Warning!", "YES TO ALL"},
                        {"Installation Completed", "Ok"}});
    qt_setup_pages pages(nullptr);
    EXPECT_EQ(run_install(where, false, pages, shell), setup_outcome::done);
    EXPECT_TRUE(driver.script_done());
    EXPECT_EQ(slurp(dest() / "keys.map"), "user");
    EXPECT_EQ(slurp(dest() / "nettopc.map"), "shipped nettopc\n");
}

TEST_F(SetupPages, UninstallPagesAndErrorBox) {
    qt_setup_pages silent_pages(nullptr);
    ASSERT_EQ(run_install(where, true, silent_pages, shell), setup_outcome::done);
    fs::remove(dest() / "LICENSE.TXT");
    fs::create_directories(dest() / "LICENSE.TXT/x");

    memory_backend settings;
    settings.write_int(config_section("1"), "port", 23);
    page_driver driver({
        {"Uninstallation", "Ok",
         [this](QWidget* w) {
             EXPECT_TRUE(has_label(w, "Home catalog for Quill W32 Telnet:"));
             EXPECT_EQ(w->findChild<QLineEdit*>("home")->text().toStdString(), dest().string());
         }},
        {"Error", "OK"},
        {"Farewell", "Ok",
         [](QWidget* w) { EXPECT_TRUE(has_label(w, "Quill W32 Telnet has been removed from Your Computer.")); }},
    });
    qt_setup_pages pages(nullptr);
    EXPECT_EQ(run_uninstall(where, pages, settings), setup_outcome::failed);
    EXPECT_TRUE(driver.script_done());
    EXPECT_FALSE(fs::exists(dest() / "qtelnet"));
    EXPECT_FALSE(settings.has(config_section("1"), "port"));
}

TEST(SetupWindow, GradientTitleAndOneRunOfTheWizard) {
    int runs = 0;
    CMainWindow w([&](QWidget*) { return ++runs == 1 ? 7 : 0; });
    EXPECT_EQ(w.windowTitle(), "Setup");
    w.resize(640, 640);
    const QImage img = w.grab().toImage();
    EXPECT_EQ(img.pixelColor(639, 0), QColor(0, 0, 255));
    EXPECT_EQ(img.pixelColor(639, 639), QColor(0, 0, 3));
    EXPECT_EQ(img.pixelColor(639, 320), QColor(0, 0, setup_band_blue(32)));
    bool white_text = false;
    for (int x = 10; x < 200 && !white_text; ++x)
        for (int y = 10; y < 40 && !white_text; ++y) white_text = img.pixelColor(x, y) == QColor(Qt::white);
    EXPECT_TRUE(white_text);

    w.grab();  // a second paint does not start the wizard again
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(w.exit_code(), 7);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
