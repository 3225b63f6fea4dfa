// File Transfer: the window driving an SFTP client whose server runs in-process over an in-memory tree, with the
// local side in a temporary folder. Listings, transfers byte for byte, the question about an existing target,
// drops (and drags from the local list), cancel and resume (also on a new connection), hostile remote names, modes
// and times both ways, what a folder download leaves out, and clearing the list.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

// Before any Qt header: the server has a member named emit, which Qt defines away.
#include "../sftp/fake_server.h"

#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QUrl>
#include <random>

#include "../support/qt_test_support.h"
#include "dialogs/file_transfer_window.h"

namespace {

using state = file_transfer_window::state;
using choice = file_transfer_window::choice;

// Equal bytes, or where they first differ (never the whole of a large file).
::testing::AssertionResult same(const std::string& got, const std::string& want) {
    if (got == want) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
    return ::testing::AssertionFailure() << got.size() << " bytes instead of " << want.size()
                                         << ", first difference at " << at
                                         << (got.size() < 64 ? ": " + got : std::string());
}

std::string random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = char(rng());
    return s;
}

struct TransferWindow : ::testing::Test {
    QTemporaryDir tmp;
    QString local;  // the chosen local folder, inside tmp
    sftp_test::fake_server server;
    sftp::posix_files files;
    std::unique_ptr<sftp_test::loop_transport> wire;
    std::unique_ptr<sftp::client> client;
    std::unique_ptr<file_transfer_window> w;
    std::vector<file_transfer_window::existing_target> asked;
    file_transfer_window::answer next_answer;
    QStringList typed;  // answers to the name questions, in order
    int confirmations = 0;

    void SetUp() override {
        qt_test_support::test_app();
        ASSERT_TRUE(tmp.isValid());
        local = tmp.filePath(QStringLiteral("local"));
        ASSERT_TRUE(QDir().mkpath(local));
        server.dirs.insert("/home");
        server.dirs.insert("/home/u");
        w = std::make_unique<file_transfer_window>();
        file_transfer_window::prompts p;
        p.existing = [this](const file_transfer_window::existing_target& t) {
            asked.push_back(t);
            return next_answer;
        };
        p.text = [this](const QString&, const QString&, const QString&) -> std::optional<QString> {
            if (typed.isEmpty()) return std::nullopt;
            return typed.takeFirst();
        };
        p.confirm = [this](const QString&) {
            ++confirmations;
            return true;
        };
        w->set_prompts(std::move(p));
        w->set_local_folder(local);
    }
    void TearDown() override {
        w.reset();
        client.reset();
    }

    // A new channel to the same server, handed to the window.
    void connect_client(const std::string& start = {}) {
        if (client) w->set_client(nullptr, {}, QStringLiteral("the session ended"));
        client.reset();
        wire = std::make_unique<sftp_test::loop_transport>(server);
        client = std::make_unique<sftp::client>(*wire, files);
        bool ready = false;
        client->start([&](const sftp::outcome& o) { ready = o.ok; });
        sftp_test::run(*client, *wire, server);
        ASSERT_TRUE(ready);
        w->set_client(client.get(), start);
        pump();
    }
    // Both sides and the window's queued questions until all are quiet.
    void pump() {
        for (int i = 0; i < 20; ++i) {
            if (client) sftp_test::run(*client, *wire, server);
            QCoreApplication::processEvents();
        }
    }
    void step() {
        sftp_test::run(*client, *wire, server, 4096, 1);
        QCoreApplication::processEvents();
    }
    QString local_path(const QString& name) const { return QDir(local).filePath(name); }
    std::string read_local(const QString& name) const {
        QFile f(local_path(name));
        if (!f.open(QIODevice::ReadOnly)) return "<missing>";
        return f.readAll().toStdString();
    }
    void write_local(const QString& name, const std::string& bytes) const {
        QFile f(local_path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes.data(), qint64(bytes.size()));
    }
    static QStringList names(QTreeWidget* list) {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(0);
        return out;
    }
    QTreeWidgetItem* remote_row(const QString& name) const {
        for (int i = 0; i < w->remote_list()->topLevelItemCount(); ++i)
            if (w->remote_list()->topLevelItem(i)->text(0) == name) return w->remote_list()->topLevelItem(i);
        return nullptr;
    }
    const file_transfer_window::transfer_row& last_row() const { return *w->transfers().back(); }
    void click(const char* name) { w->button(QString::fromLatin1(name))->click(); }
};

// ----- listing -------------------------------------------------------------------------------------------------

TEST_F(TransferWindow, HomeIsListedWithFoldersFirstSizesAndPermissions) {
    server.files["/home/u/b.txt"] = "abc";
    server.dirs.insert("/home/u/sub");
    connect_client();
    EXPECT_EQ(w->remote_folder(), "/home/u");
    EXPECT_EQ(w->remote_path_field()->text(), QStringLiteral("/home/u"));
    ASSERT_EQ(names(w->remote_list()), (QStringList{"sub", "b.txt"}));
    EXPECT_EQ(w->remote_list()->topLevelItem(0)->text(2), QStringLiteral("drwxr-xr-x"));
    EXPECT_EQ(w->remote_list()->topLevelItem(1)->text(1), QStringLiteral("3 B"));
    EXPECT_EQ(w->remote_list()->topLevelItem(1)->text(2), QStringLiteral("-rw-r--r--"));
    EXPECT_EQ(w->connection_line()->text(), QStringLiteral("Connected"));

    // Double-click enters a folder, Up leaves it.
    emit w->remote_list()->itemActivated(remote_row("sub"), 0);
    pump();
    EXPECT_EQ(w->remote_folder(), "/home/u/sub");
    click("remote_up");
    pump();
    EXPECT_EQ(w->remote_folder(), "/home/u");
}

TEST_F(TransferWindow, StartsInTheReportedFolderOrFallsBackToHome) {
    server.dirs.insert("/srv");
    connect_client("/srv");
    EXPECT_EQ(w->remote_folder(), "/srv");
    connect_client("/not/here");
    EXPECT_EQ(w->remote_folder(), "/home/u");
    EXPECT_TRUE(w->status_line()->text().contains("/not/here")) << w->status_line()->text().toStdString();
}

TEST_F(TransferWindow, LocalPaneListsTheChosenFolder) {
    write_local("x.bin", "12345");
    ASSERT_TRUE(QDir(local).mkdir("d"));
    w->set_local_folder(local);
    EXPECT_EQ(names(w->local_list()), (QStringList{"d", "x.bin"}));
    EXPECT_EQ(w->local_list()->topLevelItem(0)->text(2).at(0), QLatin1Char('d'));
    EXPECT_EQ(w->local_list()->topLevelItem(1)->text(1), QStringLiteral("5 B"));
}

// ----- transfers -----------------------------------------------------------------------------------------------

TEST_F(TransferWindow, DownloadAndUploadAreByteExact) {
    const std::string big = random_bytes(700 * 1024 + 13, 1);
    server.files["/home/u/big.bin"] = big;
    connect_client();
    w->select_names(file_transfer_window::pane::remote, {"big.bin"});
    click("download");
    pump();
    EXPECT_TRUE(same(read_local("big.bin"), big));
    EXPECT_FALSE(QFile::exists(local_path("big.bin.part")));
    EXPECT_EQ(last_row().st, state::done);
    EXPECT_EQ(last_row().bar->value(), 1000);
    EXPECT_TRUE(names(w->local_list()).contains("big.bin"));  // the local pane shows what arrived

    const std::string up = random_bytes(300 * 1024 + 7, 2);
    write_local("up.bin", up);
    w->set_local_folder(local);
    w->select_names(file_transfer_window::pane::local, {"up.bin"});
    click("upload");
    pump();
    EXPECT_TRUE(same(server.files["/home/u/up.bin"], up));
    EXPECT_EQ(last_row().st, state::done);
    EXPECT_TRUE(names(w->remote_list()).contains("up.bin"));
    EXPECT_TRUE(asked.empty());
}

TEST_F(TransferWindow, LocalFolderUploadsWithItsFiles) {
    ASSERT_TRUE(QDir(local).mkpath("tree/inner"));
    write_local("tree/a", "A");
    write_local("tree/inner/b", "BB");
    connect_client();
    w->upload_paths({local_path("tree")});
    pump();
    EXPECT_TRUE(server.dirs.count("/home/u/tree/inner"));
    EXPECT_EQ(server.files["/home/u/tree/a"], "A");
    EXPECT_EQ(server.files["/home/u/tree/inner/b"], "BB");
}

struct mode_case {
    const char* name;
    bool keep_times;
};

void PrintTo(const mode_case& c, std::ostream* os) { *os << c.name; }

class ModesAndTimes : public TransferWindow, public ::testing::WithParamInterface<mode_case> {
protected:
    mode_t saved_umask = 0;
    void SetUp() override {
        TransferWindow::SetUp();
        saved_umask = ::umask(022);
    }
    void TearDown() override {
        ::umask(saved_umask);
        TransferWindow::TearDown();
    }
    std::uint32_t local_mode(const QString& name) const {
        struct stat st {};
        return ::stat(QFile::encodeName(local_path(name)).constData(), &st) == 0 ? std::uint32_t(st.st_mode & 07777)
                                                                                 : 0;
    }
    time_t local_mtime(const QString& name) const {
        struct stat st {};
        return ::stat(QFile::encodeName(local_path(name)).constData(), &st) == 0 ? st.st_mtime : 0;
    }
};

// The mode always goes with a file, down and up, a folder's too; the times as the window's setting says.
TEST_P(ModesAndTimes, GoWithTheFilesBothWays) {
    server.files["/home/u/secret"] = "s";
    server.modes["/home/u/secret"] = 0600;
    server.mtimes["/home/u/secret"] = 1500000000;
    server.files["/home/u/script"] = "#!";
    server.modes["/home/u/script"] = 0750;
    server.mtimes["/home/u/script"] = 1500086400;
    ASSERT_TRUE(QDir(local).mkpath("tree"));
    write_local("tree/shared", "sh");
    const std::string tree = QFile::encodeName(local_path("tree")).toStdString();
    ::chmod(tree.c_str(), 0750);
    ::chmod((tree + "/shared").c_str(), 0640);
    const struct utimbuf when { 1400000000, 1400000000 };
    ::utime((tree + "/shared").c_str(), &when);
    connect_client();
    w->keep_times_box()->setChecked(GetParam().keep_times);

    w->select_names(file_transfer_window::pane::remote, {"secret", "script"});
    click("download");
    w->upload_paths({local_path("tree")});
    pump();
    EXPECT_EQ(local_mode("secret"), 0600u);
    EXPECT_EQ(local_mode("script"), 0750u);
    EXPECT_EQ(server.modes["/home/u/tree"] & 0777, 0750u);
    EXPECT_EQ(server.modes["/home/u/tree/shared"], 0640u);
    const bool keep = GetParam().keep_times;
    EXPECT_EQ(local_mtime("secret") == 1500000000, keep);
    EXPECT_EQ(local_mtime("script") == 1500086400, keep);
    EXPECT_EQ(server.mtimes.count("/home/u/tree/shared") && server.mtimes["/home/u/tree/shared"] == 1400000000, keep);
}

INSTANTIATE_TEST_SUITE_P(Setting, ModesAndTimes,
                         ::testing::Values(mode_case{"times_kept", true}, mode_case{"times_not_kept", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferWindow, AFolderDownloadNamesWhatItLeftOutAndFetchesTheRest) {
    server.dirs.insert("/home/u/d");
    server.files["/home/u/d/a"] = "A";
    server.links.insert("/home/u/d/ln");
    std::string deep = "/home/u/d";
    for (int i = 0; i < 20; ++i) server.dirs.insert(deep += "/s");
    server.files[deep + "/z"] = "Z";
    connect_client();
    w->select_names(file_transfer_window::pane::remote, {"d"});
    click("download");
    pump();
    EXPECT_EQ(read_local("d/a"), "A");
    EXPECT_EQ(read_local("d/s/s/s/s/s/s/s/s/s/s/s/s/s/s/s/s/s/s/s/s/z"), "Z");
    EXPECT_EQ(last_row().st, state::failed);
    const QString tip = last_row().item->toolTip(5);
    EXPECT_TRUE(tip.contains("/home/u/d/ln: a symbolic link")) << tip.toStdString();
}

TEST_F(TransferWindow, LocalEntriesDragAsFilesOntoTheHostPane) {
    write_local("one.txt", "first");
    write_local("two.txt", "second");
    connect_client();
    w->set_local_folder(local);
    w->select_names(file_transfer_window::pane::local, {"one.txt", "two.txt"});
    QTreeWidget* list = w->local_list();
    EXPECT_TRUE(list->dragEnabled());
    QModelIndexList chosen;
    for (QTreeWidgetItem* i : list->selectedItems()) chosen << list->indexFromItem(i);
    std::unique_ptr<QMimeData> mime(list->model()->mimeData(chosen));
    ASSERT_TRUE(mime);
    ASSERT_EQ(mime->urls().size(), 2);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w->remote_list()->viewport(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w->remote_list()->viewport(), &drop);
    pump();
    EXPECT_EQ(server.files["/home/u/one.txt"], "first");
    EXPECT_EQ(server.files["/home/u/two.txt"], "second");
}

TEST_F(TransferWindow, ClearingTakesTheEndedRowsAndLeavesTheRunningOne) {
    server.files["/home/u/small"] = "s";
    server.files["/home/u/big"] = random_bytes(1048000, 4);  // "1023.4 KiB of 1023.4 KiB"
    server.files["/home/u/refused"] = "r";
    server.denied.insert("/home/u/refused");
    connect_client();
    w->select_names(file_transfer_window::pane::remote, {"small", "refused"});
    click("download");
    pump();
    ASSERT_EQ(w->transfers().size(), 2u);
    w->select_names(file_transfer_window::pane::remote, {"big"});
    click("download");
    for (int i = 0; i < 6 && last_row().st != state::running; ++i) step();
    step();
    ASSERT_EQ(last_row().st, state::running);
    click("clear");
    ASSERT_EQ(w->transfers().size(), 1u);
    EXPECT_EQ(w->transfer_list()->topLevelItemCount(), 1);
    EXPECT_EQ(w->transfers()[0]->shown, QStringLiteral("big"));
    pump();  // its callbacks still find it
    EXPECT_EQ(w->transfers()[0]->st, state::done);
    EXPECT_TRUE(same(read_local("big"), server.files["/home/u/big"]));
    // Its progress text fits its cell.
    const QProgressBar* bar = w->transfers()[0]->bar;
    EXPECT_LE(bar->fontMetrics().horizontalAdvance(bar->text()) + 16, w->transfer_list()->columnWidth(2))
        << bar->text().toStdString();
}

struct exists_case {
    const char* name;
    bool upload;
    choice answer;
    bool part_only = false;  // download: only LOCAL.part is there
};

void PrintTo(const exists_case& c, std::ostream* os) { *os << c.name; }

class ExistingTarget : public TransferWindow, public ::testing::WithParamInterface<exists_case> {};

// The target exists with 1000 bytes that differ from the source: overwrite replaces them, resume keeps them and
// adds the rest from that offset, skip leaves them, rename puts the source beside them.
TEST_P(ExistingTarget, AnswerDecidesWhatHappens) {
    const exists_case c = GetParam();
    const std::string source = random_bytes(200 * 1024, 3);
    const std::string kept(1000, 'K');
    if (c.upload) {
        write_local("f.bin", source);
        server.files["/home/u/f.bin"] = kept;
    } else {
        server.files["/home/u/f.bin"] = source;
        write_local(c.part_only ? "f.bin.part" : "f.bin", kept);
    }
    next_answer = {c.answer, QStringLiteral("g.bin")};
    connect_client();
    if (c.upload) {
        w->upload_paths({local_path("f.bin")});
    } else {
        w->select_names(file_transfer_window::pane::remote, {"f.bin"});
        click("download");
    }
    pump();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].upload, c.upload);
    EXPECT_EQ(asked[0].existing_size, kept.size());
    EXPECT_EQ(asked[0].size, source.size());
    EXPECT_TRUE(asked[0].can_resume);

    auto target = [&](const char* name) {
        return c.upload ? server.files["/home/u/" + std::string(name)] : read_local(QString::fromLatin1(name));
    };
    switch (c.answer) {
    case choice::overwrite: EXPECT_TRUE(same(target("f.bin"), source)); break;
    case choice::resume: EXPECT_TRUE(same(target("f.bin"), kept + source.substr(kept.size()))); break;
    case choice::skip:
        EXPECT_EQ(last_row().st, state::skipped);
        if (c.upload || !c.part_only) {
            EXPECT_EQ(target("f.bin"), kept);
        }
        break;
    case choice::rename:
        EXPECT_TRUE(same(target("g.bin"), source));
        if (c.upload || !c.part_only) {
            EXPECT_EQ(target("f.bin"), kept);
        }
        break;
    }
    if (c.answer != choice::skip) {
        EXPECT_EQ(last_row().st, state::done) << last_row().message;
    }
}

INSTANTIATE_TEST_SUITE_P(choices, ExistingTarget,
                         ::testing::Values(exists_case{"upload_overwrite", true, choice::overwrite},
                                           exists_case{"upload_resume", true, choice::resume},
                                           exists_case{"upload_skip", true, choice::skip},
                                           exists_case{"upload_rename", true, choice::rename},
                                           exists_case{"download_overwrite", false, choice::overwrite},
                                           exists_case{"download_resume", false, choice::resume},
                                           exists_case{"download_skip", false, choice::skip},
                                           exists_case{"download_rename", false, choice::rename},
                                           exists_case{"download_resume_part", false, choice::resume, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferWindow, ResumeIsNotOfferedWhenTheTargetIsLonger) {
    server.files["/home/u/f.bin"] = "short";
    write_local("f.bin", "much longer than the source");
    next_answer = {choice::resume, {}};
    connect_client();
    w->select_names(file_transfer_window::pane::remote, {"f.bin"});
    click("download");
    pump();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_FALSE(asked[0].can_resume);
    EXPECT_EQ(last_row().st, state::skipped);  // a resume answered anyway is not taken
    EXPECT_EQ(read_local("f.bin"), "much longer than the source");
}

// ----- drops ---------------------------------------------------------------------------------------------------

TEST_F(TransferWindow, TwoFilesDroppedOnTheHostPaneAreUploaded) {
    write_local("one.txt", "first");
    write_local("two.txt", std::string(100000, 't'));
    connect_client();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(local_path("one.txt")), QUrl::fromLocalFile(local_path("two.txt"))});
    // As a drag does it: the drop goes to the widget that accepted the drag's entry.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w->remote_list()->viewport(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w->remote_list()->viewport(), &drop);
    pump();
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(server.files["/home/u/one.txt"], "first");
    EXPECT_TRUE(same(server.files["/home/u/two.txt"], std::string(100000, 't')));
    EXPECT_EQ(w->transfers().size(), 2u);
}

TEST_F(TransferWindow, DropsWaitForTheChannelAndAreRefusedWithoutOne) {
    write_local("one.txt", "first");
    w->upload_paths({local_path("one.txt")});
    EXPECT_TRUE(w->status_line()->text().contains("Not connected"));
    EXPECT_TRUE(w->transfers().empty());

    w->set_opening();
    w->upload_paths({local_path("one.txt")});
    EXPECT_TRUE(w->transfers().empty());
    connect_client();
    EXPECT_EQ(server.files["/home/u/one.txt"], "first");
}

// ----- cancel, resume, a dropped connection ----------------------------------------------------------------------

class CancelResume : public TransferWindow, public ::testing::WithParamInterface<bool> {};

// Cancelled part way, the transfer keeps what arrived; Resume moves only the rest.
TEST_P(CancelResume, ResumeCompletesFromTheOffset) {
    const bool upload = GetParam();
    const std::string data = random_bytes(8 * 1024 * 1024 + 5, 4);
    if (upload)
        write_local("f.bin", data);
    else
        server.files["/home/u/f.bin"] = data;
    connect_client();
    if (upload) {
        w->upload_paths({local_path("f.bin")});
    } else {
        w->select_names(file_transfer_window::pane::remote, {"f.bin"});
        click("download");
    }
    for (int i = 0; i < 50 && (w->transfers().empty() || last_row().done == 0); ++i) step();
    ASSERT_FALSE(w->transfers().empty());
    ASSERT_EQ(last_row().st, state::running);
    ASSERT_GT(last_row().done, 0u);
    ASSERT_LT(last_row().done, data.size());
    EXPECT_TRUE(last_row().cancel->isEnabled());
    EXPECT_FALSE(last_row().resume->isEnabled());
    last_row().cancel->click();
    pump();
    EXPECT_EQ(last_row().st, state::cancelled);
    EXPECT_TRUE(last_row().resume->isEnabled());
    const std::uint64_t kept =
        upload ? server.files["/home/u/f.bin"].size() : QFileInfo(local_path("f.bin.part")).size();
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, data.size());
    if (!upload) {
        EXPECT_FALSE(QFile::exists(local_path("f.bin")));
    }

    const std::uint64_t read_before = server.read_bytes_asked;
    const auto writes = [&] {
        return std::count(server.request_types.begin(), server.request_types.end(), sftp::SSH_FXP_WRITE);
    };
    const auto writes_before = writes();
    last_row().resume->click();
    pump();
    EXPECT_EQ(last_row().st, state::done) << last_row().message;
    EXPECT_TRUE(same(upload ? server.files["/home/u/f.bin"] : read_local("f.bin"), data));
    // Only the rest moved: what a restart from 0 would have moved is more than the slack allows.
    if (upload) {
        EXPECT_LT(std::uint64_t(writes() - writes_before) * client->write_chunk(), data.size() - kept + 512 * 1024);
    } else {
        EXPECT_LT(server.read_bytes_asked - read_before, data.size() - kept + 512 * 1024);
    }
}

INSTANTIATE_TEST_SUITE_P(directions, CancelResume, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "upload" : "download"; });

// The connection drops mid-download: the window says so and refuses actions; the next channel resumes the row.
TEST_F(TransferWindow, DroppedConnectionThenResumeOnTheNextChannel) {
    const std::string data = random_bytes(8 * 1024 * 1024, 5);
    server.files["/home/u/log.txt"] = data;
    connect_client();
    w->select_names(file_transfer_window::pane::remote, {"log.txt"});
    click("download");
    for (int i = 0; i < 50 && (w->transfers().empty() || last_row().done == 0); ++i) step();
    ASSERT_GT(last_row().done, 0u);
    client->lost("the connection was dropped");
    w->set_client(nullptr, {}, QStringLiteral("the session ended"));
    EXPECT_EQ(last_row().st, state::failed);
    EXPECT_TRUE(last_row().message.find("dropped") != std::string::npos) << last_row().message;
    EXPECT_EQ(w->connection_line()->text(), QStringLiteral("Not connected: the session ended"));
    for (const char* b : {"upload", "download", "rename", "delete", "new_folder", "remote_up"})
        EXPECT_FALSE(w->button(QString::fromLatin1(b))->isEnabled()) << b;
    EXPECT_FALSE(last_row().resume->isEnabled());
    const auto kept = QFileInfo(local_path("log.txt.part")).size();
    EXPECT_GT(kept, 0);

    connect_client();
    ASSERT_TRUE(last_row().resume->isEnabled());
    last_row().resume->click();
    pump();
    EXPECT_EQ(last_row().st, state::done) << last_row().message;
    EXPECT_TRUE(same(read_local("log.txt"), data));
}

// A row whose target was still being looked at when the channel went said "Waiting" for good; it is looked at
// again over the next channel and goes up.
TEST_F(TransferWindow, ARowWaitingForItsCheckGoesOnOverTheNextChannel) {
    connect_client();
    write_local("up.txt", "hello");
    w->upload_paths({local_path("up.txt")});
    ASSERT_EQ(w->transfers().size(), 1u);
    EXPECT_EQ(last_row().st, state::waiting);  // the host has not answered about the target yet
    connect_client();                          // the old client goes with its unanswered request
    EXPECT_EQ(last_row().st, state::done) << last_row().message;
    EXPECT_EQ(server.files["/home/u/up.txt"], "hello");
}

// Closing for good stops what runs: the transfer's later replies find no window, and the file is not finished.
TEST_F(TransferWindow, DestroyedWindowCancelsItsTransfers) {
    server.files["/home/u/f.bin"] = random_bytes(8 * 1024 * 1024, 6);
    connect_client();
    w->select_names(file_transfer_window::pane::remote, {"f.bin"});
    click("download");
    for (int i = 0; i < 50 && (w->transfers().empty() || last_row().done == 0); ++i) step();
    ASSERT_EQ(last_row().st, state::running);
    w.reset();
    pump();
    EXPECT_EQ(client->running_transfers(), 0u);
    EXPECT_FALSE(QFile::exists(local_path("f.bin")));
    EXPECT_TRUE(QFile::exists(local_path("f.bin.part")));
}

// ----- remote file operations on both panes ------------------------------------------------------------------------

class FileOperations : public TransferWindow, public ::testing::WithParamInterface<file_transfer_window::pane> {};

TEST_P(FileOperations, RenameDeleteAndNewFolderShowInThePane) {
    const auto pane = GetParam();
    const bool remote = pane == file_transfer_window::pane::remote;
    server.files["/home/u/a.txt"] = "a";
    server.files["/home/u/gone.txt"] = "g";
    write_local("a.txt", "a");
    write_local("gone.txt", "g");
    connect_client();
    w->set_local_folder(local);
    QTreeWidget* list = remote ? w->remote_list() : w->local_list();

    typed = {"b.txt"};
    w->select_names(pane, {"a.txt"});
    click("rename");
    pump();
    EXPECT_EQ(names(list), (QStringList{"b.txt", "gone.txt"}));

    w->select_names(pane, {"gone.txt"});
    click("delete");
    pump();
    EXPECT_EQ(confirmations, 1);
    EXPECT_EQ(names(list), (QStringList{"b.txt"}));

    typed = {"made"};
    click("new_folder");
    pump();
    EXPECT_EQ(names(list), (QStringList{"made", "b.txt"}));

    typed = {"../escape"};  // a name, never a path
    click("new_folder");
    pump();
    EXPECT_EQ(names(list), (QStringList{"made", "b.txt"}));
    EXPECT_TRUE(w->status_line()->text().contains("Not a name"));

    if (remote) {
        EXPECT_EQ(server.files.count("/home/u/a.txt"), 0u);
        EXPECT_EQ(server.files["/home/u/b.txt"], "a");
        EXPECT_EQ(server.files.count("/home/u/gone.txt"), 0u);
        EXPECT_TRUE(server.dirs.count("/home/u/made"));
        EXPECT_TRUE(QFile::exists(local_path("a.txt")));  // the other side is untouched
    } else {
        EXPECT_EQ(read_local("b.txt"), "a");
        EXPECT_FALSE(QFile::exists(local_path("gone.txt")));
        EXPECT_TRUE(QFileInfo(local_path("made")).isDir());
        EXPECT_EQ(server.files["/home/u/a.txt"], "a");
    }
}

INSTANTIATE_TEST_SUITE_P(panes, FileOperations,
                         ::testing::Values(file_transfer_window::pane::remote, file_transfer_window::pane::local),
                         [](const auto& info) {
                             return info.param == file_transfer_window::pane::remote ? "remote" : "local";
                         });

// ----- hostile names ------------------------------------------------------------------------------------------------

struct name_case {
    const char* label;
    std::string raw;  // as the host lists it
    bool evil_server;
};

void PrintTo(const name_case& c, std::ostream* os) { *os << c.label; }

class HostileName : public TransferWindow, public ::testing::WithParamInterface<name_case> {};

TEST_P(HostileName, ShownVisiblyAndDownloadedInsideTheLocalFolder) {
    const name_case c = GetParam();
    if (c.evil_server)
        server.mode = sftp_test::misbehave::evil_names;
    else
        server.files["/home/u/" + c.raw] = "evil";
    connect_client();
    for (const QString& n : names(w->remote_list()))
        for (QChar ch : n) EXPECT_GE(ch.unicode(), 0x20) << n.toStdString();
    const QString visible = QString::fromStdString(sftp::visible_name(c.raw));
    ASSERT_NE(remote_row(visible), nullptr) << visible.toStdString();
    w->select_names(file_transfer_window::pane::remote, {visible});
    click("download");
    pump();
    EXPECT_EQ(last_row().st, state::done) << last_row().message;
    const QString stored = QString::fromStdString(sftp::safe_local_name(c.raw));
    EXPECT_EQ(read_local(stored), "evil");
    // Nothing landed beside the chosen folder.
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{"local"});
}

INSTANTIATE_TEST_SUITE_P(names, HostileName,
                         ::testing::Values(name_case{"newline", "two\nlines", false},
                                           name_case{"escape_codes", "bell\a\x1b[2J", true},
                                           name_case{"parent_path", "../escape", true}),
                         [](const auto& info) { return std::string(info.param.label); });

// ----- what the rows show ------------------------------------------------------------------------------------------

TEST(TransferWindowText, ModesRatesAndTimeLeft) {
    const std::pair<std::uint32_t, const char*> modes[] = {
        {040755, "drwxr-xr-x"},  {0100644, "-rw-r--r--"}, {0120777, "lrwxrwxrwx"}, {0104755, "-rwsr-xr-x"},
        {0102640, "-rw-r-S---"}, {041777, "drwxrwxrwt"},  {0100000, "----------"}, {0140600, "srw-------"}};
    for (const auto& [mode, text] : modes) EXPECT_EQ(file_transfer_window::mode_text(mode), QString::fromLatin1(text));
    EXPECT_EQ(file_transfer_window::rate_text(1.5 * 1024 * 1024), QStringLiteral("1.5 MiB/s"));
    EXPECT_EQ(file_transfer_window::rate_text(0), QString());
    EXPECT_EQ(file_transfer_window::time_left_text(0, 1000, 10), QStringLiteral("1:40"));
    EXPECT_EQ(file_transfer_window::time_left_text(0, 3 * 3600 + 5, 1), QStringLiteral("3:00:05"));
    EXPECT_EQ(file_transfer_window::time_left_text(0, std::nullopt, 10), QString());
    EXPECT_EQ(file_transfer_window::time_left_text(0, 1000, 0), QString());
}

}  // namespace
