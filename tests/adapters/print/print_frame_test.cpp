// The File menu's capture, send-file, debug-log and print commands on the real main window, with a TCP peer on
// loopback, controller printing to PDF files and print screen to a private CUPS queue.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QFileDialog>
#include <QPrintDialog>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "adapters/qt_socket.h"
#include "app/commands.h"
#include "app/mainframe.h"
#include "config/memory_backend.h"
#include "config/mycli.h"
#include "config/settings.h"
#include "config/ui_services.h"
#include "../../support/qt_test_support.h"
#include "cups_sandbox.h"
#include "session/session.h"
#include "terminal/printer/file_commands.h"
#include "terminal/vt.h"
#include "view/document.h"
#include "view/view.h"

using namespace print_test;

namespace {

using qt_test_support::pump_until;
using qt_test_support::recording_ui;

// Answers the next file dialog with `path` (or cancels it when empty); counts the dialogs it saw.
struct dialog_answer {
    int seen = 0;
    void arm(const QString& path) {
        QTimer::singleShot(0, [this, path] {
            auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!d) return;
            ++seen;
            if (path.isEmpty()) {
                d->reject();
                return;
            }
            d->selectFile(path);
            static_cast<QDialog*>(d)->accept();  // QFileDialog::accept is protected
        });
    }
};

class FrameFilesTest : public ::testing::Test {
protected:
    std::string dir;
    CVellumDoc doc;
    StartupValues start;
    recording_ui ui;
    memory_backend store;
    qt_socket_factory sockets;
    std::unique_ptr<CMainFrame> frame;
    QTcpServer server;
    QTcpSocket* peer = nullptr;

    void SetUp() override {
        char tmpl[] = "/tmp/qtelnet-frame-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        // Controller printing goes to PDF files here; the debug log lives under this state folder.
        setenv("QTELNET_PRINT_PDF_DIR", dir.c_str(), 1);
        setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
        reset_settings();
    }
    void TearDown() override {
        if (frame && frame->connected()) frame->view().disconnect();
        frame.reset();
        unsetenv("QTELNET_PRINT_PDF_DIR");
        std::filesystem::remove_all(dir);
    }
    void make(const char* save_switch) {
        start.save_switch = save_switch;
        frame = std::make_unique<CMainFrame>(doc, start, ui, store, sockets);
        ui.messages.clear();
    }
    void connect_peer() {
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        ASSERT_TRUE(frame->view().connect_to("127.0.0.1", server.serverPort()));
        ASSERT_TRUE(pump_until([&] { return server.hasPendingConnections() && frame->connected(); }));
        peer = server.nextPendingConnection();
        ASSERT_NE(peer, nullptr);
    }
    void show(std::string_view bytes) {
        for (char c : bytes) frame->terminal().feed_byte(static_cast<std::uint8_t>(c));
    }
};

TEST_F(FrameFilesTest, ControllerModePrintsThroughTheFramesPrinter) {
    make("0");
    show("\x1b[5iprinted by the host\r\n\x1b[4ion screen");
    EXPECT_EQ(frame->terminal().printer_controller(), 0);
    EXPECT_NE(pdf_text(dir + "/print-1.pdf").find("printed by the host"), std::string::npos);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(FrameFilesTest, CaptureStartsWithDialogStopsWithoutAndAppends) {
    make("0");
    connect_peer();
    const std::string path = dir + "/capture.txt";
    std::ofstream(path) << "kept\n";
    dialog_answer answer;
    answer.arm(QString::fromStdString(path));
    ASSERT_TRUE(frame->run_command(cmd::log_save));
    EXPECT_EQ(answer.seen, 1);
    EXPECT_EQ(frame->net().capture_file(), path);
    EXPECT_TRUE(frame->command_checked(cmd::log_save));

    peer->write("abc\r\nxyz");
    peer->flush();
    ASSERT_TRUE(pump_until([&] { return slurp(path).size() >= 13; }));
    EXPECT_EQ(slurp(path), "kept\nabc\r\nxyz");

    answer.arm(QString::fromStdString(dir + "/other.txt"));
    ASSERT_TRUE(frame->run_command(cmd::log_save));
    QCoreApplication::processEvents();
    EXPECT_EQ(answer.seen, 1);  // stopping asks nothing
    EXPECT_TRUE(frame->net().capture_file().empty());
    EXPECT_FALSE(frame->command_checked(cmd::log_save));

    answer.arm({});  // Cancel leaves capture off
    ASSERT_TRUE(frame->run_command(cmd::log_save));
    EXPECT_EQ(answer.seen, 2);
    EXPECT_TRUE(frame->net().capture_file().empty());
}

TEST_F(FrameFilesTest, FileCommandsFollowTheSaveSwitch) {
    make("1");
    EXPECT_FALSE(frame->command_enabled(cmd::log_save));
    EXPECT_FALSE(frame->command_enabled(cmd::log_read));
    EXPECT_TRUE(frame->command_enabled(cmd::ssh_log));
    EXPECT_TRUE(frame->command_enabled(cmd::print_screen));
}

TEST_F(FrameFilesTest, ReadFromFileReachesThePeer) {
    make("0");
    connect_peer();
    std::string content;
    for (int i = 0; i < 450; ++i) content.push_back(static_cast<char>('A' + i % 26));
    const std::string path = dir + "/send.txt";
    std::ofstream(path, std::ios::binary) << content;
    dialog_answer answer;
    answer.arm(QString::fromStdString(path));
    ASSERT_TRUE(frame->run_command(cmd::log_read));
    QByteArray got;
    ASSERT_TRUE(pump_until([&] {
        got += peer->readAll();
        return got.size() >= 450;
    }));
    EXPECT_EQ(got.toStdString(), content);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(FrameFilesTest, LargeFileStopsWithMessage) {
    make("0");
    connect_peer();
    const std::string path = dir + "/big.txt";
    std::ofstream(path, std::ios::binary) << std::string(20000, 'z');
    dialog_answer answer;
    answer.arm(QString::fromStdString(path));
    ASSERT_TRUE(frame->run_command(cmd::log_read));
    QByteArray got;
    pump_until([&] {
        got += peer->readAll();
        return got.size() >= 10200;
    });
    pump_until([] { return false; }, 200);  // nothing more follows
    got += peer->readAll();
    EXPECT_EQ(got.size(), 10200);
    EXPECT_EQ(ui.messages, std::vector<std::string>{printing::kOutgoingFull});
}

TEST_F(FrameFilesTest, DebugLogToggleNamesPrivateFile) {
    make("0");
    ASSERT_TRUE(frame->run_command(cmd::ssh_log));
    ASSERT_EQ(ui.messages.size(), 1u);
    const std::string prefix = "All data will be logged to file ";
    ASSERT_EQ(ui.messages[0].rfind(prefix, 0), 0u);
    const std::string path = ui.messages[0].substr(prefix.size());
    EXPECT_EQ(path.rfind(dir + "/state/", 0), 0u) << path;
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(frame->command_checked(cmd::ssh_log));
    ASSERT_TRUE(frame->run_command(cmd::ssh_log));
    EXPECT_FALSE(frame->command_checked(cmd::ssh_log));
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(FrameFilesTest, SendHandsAPrivateScreenFileToTheMailProgram) {
    // A stand-in mail program that notes its arguments.
    const std::string bin = dir + "/bin", empty = dir + "/empty", run_dir = dir + "/run";
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(empty);
    ASSERT_EQ(mkdir(run_dir.c_str(), 0700), 0);
    const std::string args_file = dir + "/mail-args";
    std::ofstream(bin + "/xdg-email") << "#!/bin/sh\nprintf '%s\\n' \"$@\" > " << args_file << ".part && mv "
                                      << args_file << ".part " << args_file << "\n";
    ASSERT_EQ(chmod((bin + "/xdg-email").c_str(), 0755), 0);
    const char* path_env = std::getenv("PATH");
    const std::string saved_path = path_env ? path_env : "/usr/bin:/bin";
    setenv("XDG_RUNTIME_DIR", run_dir.c_str(), 1);

    // No mail program: the command is off.
    setenv("PATH", empty.c_str(), 1);
    make("0");
    EXPECT_FALSE(frame->command_enabled(cmd::send_mail));

    frame.reset();
    setenv("PATH", (bin + ":" + saved_path).c_str(), 1);
    make("0");
    setenv("PATH", saved_path.c_str(), 1);
    ASSERT_TRUE(frame->command_enabled(cmd::send_mail));
    show("mail this screen");
    ASSERT_TRUE(frame->run_command(cmd::send_mail));
    const bool launched = wait_for([&] { return std::filesystem::exists(args_file); }, 10);
    unsetenv("XDG_RUNTIME_DIR");
    ASSERT_TRUE(launched);
    std::vector<std::string> args;
    std::ifstream in(args_file);
    for (std::string line; std::getline(in, line);) args.push_back(line);
    ASSERT_EQ(args.size(), 2u);
    EXPECT_EQ(args[0], "--attach");
    // Not in the shared /tmp: the name is predictable.
    EXPECT_EQ(args[1].rfind(run_dir + "/vt220", 0), 0u) << args[1];
    EXPECT_EQ(args[1].size(), run_dir.size() + std::string("/vt220HHMMSS.txt").size());
    const std::string text = slurp(args[1]);
    EXPECT_EQ(text.size(), 24u * 81u + 1u);
    EXPECT_EQ(text.substr(0, 16), "mail this screen");
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(FrameFilesTest, PrintScreenToDefaultQueueWithAndWithoutDialog) {
    cups_sandbox cups;
    if (!cups.problem.empty()) GTEST_SKIP() << cups.problem;
    cupsSetServer(cups.socket_path.c_str());
    struct server_reset {
        ~server_reset() { cupsSetServer(nullptr); }  // also when an assertion ends the test early
    } reset_server;
    make("0");
    show("Screen for the printer\r\n\x1b(0lqk\x1b(B");
    settings().askprint = 0;

    // No queue yet: the user is told, nothing is asked.
    ASSERT_TRUE(frame->run_command(cmd::print_screen));
    EXPECT_EQ(ui.messages, std::vector<std::string>{printing::kNoDefaultPrinter});
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    ASSERT_TRUE(cups.add_queue("screenq", true));
    ui.messages.clear();
    ASSERT_TRUE(frame->run_command(cmd::print_screen));
    EXPECT_TRUE(ui.messages.empty());
    ASSERT_TRUE(wait_for([&] { return cups.received().find("%%EOF") != std::string::npos; }, 60));
    const std::string pdf = dir + "/screen.pdf";
    std::ofstream(pdf, std::ios::binary) << cups.received();
    const std::string text = pdf_text(pdf);
    EXPECT_NE(text.find("Screen for the printer"), std::string::npos) << text;
    EXPECT_EQ(text.find("lqk"), std::string::npos);

    // Asking first: Cancel prints nothing, OK prints on the printer the dialog offered.
    settings().askprint = 1;
    auto answer_print_dialog = [](bool ok, int* seen) {
        QTimer::singleShot(0, [ok, seen] {
            auto* d = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget());
            if (!d) return;
            ++*seen;
            ok ? static_cast<QDialog*>(d)->accept() : d->reject();
        });
    };
    const std::size_t after_first = cups.received().size();
    int dialogs = 0;
    answer_print_dialog(false, &dialogs);
    ASSERT_TRUE(frame->run_command(cmd::print_screen));
    EXPECT_EQ(dialogs, 1);
    answer_print_dialog(true, &dialogs);
    ASSERT_TRUE(frame->run_command(cmd::print_screen));
    EXPECT_EQ(dialogs, 2);
    ASSERT_TRUE(wait_for([&] { return cups.received().find("%%EOF", after_first) != std::string::npos; }, 60));
    // Exactly one more job: the cancelled one never reached the queue.
    EXPECT_EQ(cups.received().compare(after_first, 5, "%PDF-"), 0);
    EXPECT_EQ(cups.received().find("%PDF-", after_first + 5), std::string::npos);
    EXPECT_TRUE(ui.messages.empty());
}

}  // namespace
