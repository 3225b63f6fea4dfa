// Receive and send pipeline: translation, replies, the read guard, the send queue, capture and the debug log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <pwd.h>
#include <unistd.h>

#include "fakes.h"
#include "session/debug_log.h"

namespace {

std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

struct temp_dir {
    std::filesystem::path path;
    temp_dir() {
        char tmpl[] = "/tmp/session_test_XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~temp_dir() { std::filesystem::remove_all(path); }
    std::string file(const char* name) const { return (path / name).string(); }
};

TEST(Pipeline, FullReadIsShownWholeAndNextPassStartsAtTheFront) {
    session_rig rig;
    ASSERT_TRUE(rig.connect());
    std::string data;
    for (int i = 0; i < 2000; ++i) data.push_back(static_cast<char>('A' + i % 26));
    temp_dir dir;
    rig.s.set_capture_file(dir.file("cap.txt"));
    rig.receive(data);
    rig.receive("xyz");
    EXPECT_EQ(read_file(dir.file("cap.txt")), data + "xyz");
}

TEST(Pipeline, IncomingTranslationSparesEscapeSequencesAcrossReads) {
    for (bool ssh : {false, true}) {
        session_rig rig;
        fake_ssh engine;
        rig.s.set_ssh_engine(&engine);
        rig.settings.ssh = ssh ? 1 : 0;
        rig.nettopc['['] = 'X';
        temp_dir dir;
        rig.s.set_capture_file(dir.file("cap.txt"));
        ASSERT_TRUE(rig.connect());
        auto deliver = [&](const std::string& d) {
            if (ssh)
                rig.s.session_deliver(reinterpret_cast<const std::uint8_t*>(d.data()), d.size());
            else
                rig.receive(d);
        };
        deliver("[a\033");
        deliver("[1m[");
        EXPECT_EQ(read_file(dir.file("cap.txt")), "Xa\033[1mX") << (ssh ? "ssh" : "telnet");
        // The escape sequence was taken by the emulator: bold is on for what follows, and no '[' was printed.
        EXPECT_EQ(rig.row(1), "XaX") << (ssh ? "ssh" : "telnet");
        EXPECT_TRUE(rig.ring.line(1).cell(3) & cell_bold);
    }
}

TEST(Pipeline, ReplyLeavesBeforeTheRestIsShown) {
    session_rig rig;
    ASSERT_TRUE(rig.connect());
    std::vector<std::string> rows_at_write;
    rig.sock().on_write = [&](const std::string&) { rows_at_write.push_back(rig.row(1)); };
    rig.receive("AB\033[cCD\033[6nEF");
    ASSERT_EQ(rig.sock().writes.size(), 2u);
    EXPECT_EQ(rig.sock().writes[0], "\033[?62;1;6c");
    EXPECT_EQ(rig.sock().writes[1], "\033[1;5R");
    EXPECT_EQ(rows_at_write[0], "AB");
    EXPECT_EQ(rows_at_write[1], "ABCD");
    EXPECT_EQ(rig.row(1), "ABCDEF");
}

// The session hands whole blocks to the emulator; the result must be what feeding byte by byte gives, with each
// reply leaving while the screen shows exactly what preceded its query.
TEST(Pipeline, BlockFeedingMatchesByteByByteFeeding) {
    const std::vector<std::string> pieces = {
        "plain text ",
        "\r\n",
        "\033[c",
        "\033[6n",
        "\033[5n",
        "\033Z",
        "\033#6",
        "\033#5",
        "\033[4h",
        "\033[4l",
        std::string(70, 'w'),
        "\033[1;31m",
        "\033[0m",
        "\t",
        "\b",
        "\033(0lqk\033(B",
        "\xe9\xfc",
        "\033[2J",
        "\033[10;75H",
        "\033[?7l",
        "\033[?7h",
        "\033[",
        "5n",
    };
    std::uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    for (int round = 0; round < 40; ++round) {
        std::string stream;
        while (stream.size() < 3000) stream += pieces[next() % pieces.size()];

        struct shot {
            std::string reply, screen;
            int row, col;
        };
        std::vector<shot> expect;
        screen_ring ref_ring;
        vt ref(ref_ring);
        for (unsigned char c : stream) {
            if (!ref.feed_byte(c)) continue;
            const char* r = ref.take_reply();
            if (r && *r) expect.push_back({r, screen_dump_plain(ref_ring), ref.cursor_row(), ref.cursor_column()});
        }
        ASSERT_FALSE(expect.empty());

        session_rig rig;
        ASSERT_TRUE(rig.connect());
        std::vector<shot> got;
        rig.sock().on_write = [&](const std::string& w) {
            got.push_back({w, screen_dump_plain(rig.ring), rig.term.cursor_row(), rig.term.cursor_column()});
        };
        rig.receive_split(stream, 1 + next() % 900);

        ASSERT_EQ(got.size(), expect.size()) << "round " << round;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].reply, expect[i].reply) << "round " << round << " reply " << i;
            EXPECT_EQ(got[i].screen, expect[i].screen) << "round " << round << " reply " << i;
            EXPECT_EQ(got[i].row, expect[i].row) << "round " << round << " reply " << i;
            EXPECT_EQ(got[i].col, expect[i].col) << "round " << round << " reply " << i;
        }
        EXPECT_EQ(screen_dump_plain(rig.ring), screen_dump_plain(ref_ring)) << "round " << round;
        EXPECT_EQ(rig.term.cursor_row(), ref.cursor_row());
        EXPECT_EQ(rig.term.cursor_column(), ref.cursor_column());
    }
}

TEST(Pipeline, AReplyLeftPendingElsewhereLeavesWithTheNextHostByte) {
    session_rig rig;
    ASSERT_TRUE(rig.connect());
    rig.term.feed_byte(27);  // e.g. a locally echoed query whose reply nobody collected
    rig.term.feed_byte('[');
    ASSERT_TRUE(rig.term.feed_byte('c'));
    std::vector<std::string> rows_at_write;
    rig.sock().on_write = [&](const std::string&) { rows_at_write.push_back(rig.row(1)); };
    rig.receive("abc");
    ASSERT_EQ(rig.sock().writes.size(), 1u);
    EXPECT_EQ(rig.sock().writes[0], "\033[?62;1;6c");
    EXPECT_EQ(rows_at_write[0], "a");
    EXPECT_EQ(rig.row(1), "abc");
}

TEST(Pipeline, NotificationsDuringAPassDoNotNestAndOneNotificationDrainsTheSocket) {
    session_rig rig;
    ASSERT_TRUE(rig.connect());
    rig.sock().incoming = {"one", "two", "three"};
    std::string row_in_pump;
    rig.view.during_pump = [&] {
        rig.s.on_read(0);
        rig.s.on_read(0);
        row_in_pump = rig.row(1);
    };
    rig.s.on_read(0);
    EXPECT_EQ(row_in_pump, "") << "a notification during a pass must not start a nested pass";
    EXPECT_EQ(rig.row(1), "onetwothree");
    EXPECT_EQ(rig.sock().reads, 4) << "three reads with data, one that finds the socket empty";
    rig.sock().incoming = {"four"};
    rig.s.on_read(10054);  // a notification with an error reads nothing
    EXPECT_EQ(rig.sock().reads, 4);
    rig.s.on_read(0);  // the guard is back to 0: a new notification runs a pass
    EXPECT_EQ(rig.row(1), "onetwothreefour");

    // A flood is read in budgets, so the event loop runs in between; the socket notifies again for the rest.
    for (std::size_t i = 0; i < receive_passes_per_notification + 8; ++i)
        rig.sock().incoming.push_back(std::string(receive_buffer_size, 'x'));
    rig.s.on_read(0);
    EXPECT_EQ(rig.sock().incoming.size(), 8u);
}

TEST(Pipeline, DataArrivingWhileAMessageBoxIsOpenIsShownAfterOk) {
    session_rig rig;
    rig.settings.auto_search1 = "login:";
    rig.settings.auto_response1 = std::string(300, 'r');  // too long: the read pass shows a message box
    ASSERT_TRUE(rig.connect());
    // The host's next line arrives while the box is open; no notification comes for it.
    rig.ui.during_message = [&] { rig.sock().incoming.push_back("\r\nsent meanwhile"); };
    rig.receive("login:");
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_EQ(rig.row(2), "sent meanwhile");
}

TEST(Pipeline, AFullSocketKeepsBytesInTheQueueUntilItHasRoomAgain) {
    session_rig rig;
    ASSERT_TRUE(rig.connect());
    rig.sock().pending = socket_write_buffer_limit;  // the host stopped reading
    const std::string paste(1500, 'p');
    EXPECT_EQ(rig.s.send_to_host(reinterpret_cast<const std::uint8_t*>(paste.data()), paste.size()), 0);
    EXPECT_TRUE(rig.sock().writes.empty());
    EXPECT_EQ(rig.s.send_queue_count(), 1500u);
    const std::string more(600, 'm');
    EXPECT_EQ(rig.s.send_to_host(reinterpret_cast<const std::uint8_t*>(more.data()), more.size()), 0);
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_EQ(rig.ui.messages[0], session_msg::send_overflow);
    EXPECT_EQ(rig.s.send_queue_count(), 1500u);
    // A host flooding device-attribute queries while it does not read: replies are dropped, one box in all.
    std::string queries;
    for (int i = 0; i < 80; ++i) queries += "\033[c";
    rig.receive(queries);
    EXPECT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_EQ(rig.s.send_queue_count(), 1500u + 49 * 10) << "replies fill the queue; the rest are dropped";

    rig.s.on_write_ready();  // still full: nothing moves
    EXPECT_TRUE(rig.sock().writes.empty());
    rig.sock().pending = socket_write_buffer_limit - 1;
    rig.s.on_write_ready();
    EXPECT_EQ(rig.sock().all_written().substr(0, paste.size()), paste) << "what the queue accepted goes out";
    EXPECT_EQ(rig.sock().all_written().size(), 1500u + 49 * 10);
    EXPECT_EQ(rig.s.send_queue_count(), 0u);
    // Once the queue has emptied, the next overflow is reported again.
    const std::string huge(send_queue_size, 'h');
    EXPECT_EQ(rig.s.send_to_host(reinterpret_cast<const std::uint8_t*>(huge.data()), huge.size()), 0);
    EXPECT_EQ(rig.ui.messages.size(), 2u);
}

TEST(Pipeline, AFullSocketRefusesSshUserDataBeforeTheEngineSeesIt) {
    session_rig rig;
    fake_ssh engine;
    rig.s.set_ssh_engine(&engine);
    rig.settings.ssh = 1;
    ASSERT_TRUE(rig.connect());
    rig.sock().pending = socket_write_buffer_limit;
    EXPECT_EQ(rig.s.send_to_host(reinterpret_cast<const std::uint8_t*>("k"), 1), 0);
    EXPECT_EQ(engine.user_data, "");
    EXPECT_EQ(rig.ui.messages.size(), 1u);
}

TEST(Pipeline, SendQueueOverflowDropsTheNewBytesOnly) {
    session_rig rig;
    ASSERT_TRUE(rig.connect());
    rig.sock().write_limit = -1;  // the socket refuses: bytes pile up in the queue
    const std::string big(1990, 'q');
    EXPECT_EQ(rig.s.send_to_host(reinterpret_cast<const std::uint8_t*>(big.data()), big.size()), 0);
    EXPECT_EQ(rig.s.send_queue_count(), 1990u);
    EXPECT_TRUE(rig.ui.messages.empty()) << "a write error shows no message";

    const std::uint8_t nine[9] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(rig.s.send_to_host(nine, 9), 0);
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_EQ(rig.ui.messages[0], "Cannot send data to the host. Check TCP/IP protocol stack.");
    EXPECT_EQ(rig.s.send_queue_count(), 1990u);

    EXPECT_EQ(rig.s.send_to_host(nine, 8), 0);
    EXPECT_EQ(rig.s.send_queue_count(), 1998u);
    EXPECT_EQ(rig.ui.messages.size(), 1u);

    // The socket recovers: the next send takes the whole backlog in order.
    rig.sock().write_limit = -2;
    rig.sock().writes.clear();
    EXPECT_EQ(rig.s.send_to_host(nine, 0), 1998);
    EXPECT_EQ(rig.sock().all_written(), big + "12345678");
    EXPECT_EQ(rig.s.send_queue_count(), 0u);

    // Oversized input never overruns the queue.
    const std::string huge(5000, 'h');
    EXPECT_EQ(rig.s.send_to_host(reinterpret_cast<const std::uint8_t*>(huge.data()), huge.size()), 0);
    EXPECT_EQ(rig.ui.messages.size(), 2u);
}

TEST(Pipeline, DataByte255IsDoubledOnlyInTelnetData) {
    session_rig rig;
    rig.settings.auto_search1 = "login:";
    rig.settings.auto_response1 = "\\377x";
    ASSERT_TRUE(rig.connect());
    const std::uint8_t typed[] = {'a', 0xFF, 'b'};
    EXPECT_EQ(rig.s.send_to_host(typed, 3), 4);
    rig.receive(bytes({255, 253, 31}) + "login:");  // an option answer, then an auto-login response
    EXPECT_EQ(rig.sock().all_written(), bytes({'a', 255, 255, 'b', 255, 252, 31, 255, 255, 'x'}));

    // The queue limit counts the bytes as they go out.
    rig.sock().write_limit = -1;
    const std::string fill(1990, 'q');
    rig.s.send_to_host(reinterpret_cast<const std::uint8_t*>(fill.data()), fill.size());
    const std::uint8_t five[] = {0xFF, 0xFF, 0xFF, 0xFF, 'z'};
    EXPECT_EQ(rig.s.send_to_host(five, 5), 0);
    EXPECT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_EQ(rig.s.send_queue_count(), 1990u);
    rig.s.send_to_host(five, 4);
    EXPECT_EQ(rig.s.send_queue_count(), 1998u);
    EXPECT_EQ(rig.ui.messages.size(), 1u);

    session_rig ssh;
    fake_ssh engine;
    ssh.s.set_ssh_engine(&engine);
    ssh.settings.ssh = 1;
    ASSERT_TRUE(ssh.connect());
    EXPECT_EQ(ssh.s.send_to_host(typed, 3), 3);
    EXPECT_EQ(engine.user_data, bytes({'a', 255, 'b'}));
}

TEST(Pipeline, PartlyTakenBytesStayQueuedInOrder) {
    session_rig rig;
    ASSERT_TRUE(rig.connect());
    rig.sock().write_limit = 3;
    const std::string a = "abcdefg";
    EXPECT_EQ(rig.s.send_to_host(reinterpret_cast<const std::uint8_t*>(a.data()), a.size()), 3);
    EXPECT_EQ(rig.s.send_queue_count(), 4u);
    rig.sock().write_limit = -2;
    EXPECT_EQ(rig.s.send_to_host(reinterpret_cast<const std::uint8_t*>("h"), 1), 5);
    EXPECT_EQ(rig.sock().all_written(), "abcdefgh");
}

TEST(Pipeline, SshTrafficGoesThroughTheEngine) {
    session_rig rig;
    fake_ssh engine;
    rig.s.set_ssh_engine(&engine);
    rig.settings.ssh = 1;
    rig.settings.ssh_type_1_2 = 1;
    rig.sync();
    EXPECT_EQ(rig.s.transport(), TransportKind::Ssh2);
    ASSERT_TRUE(rig.connect());
    EXPECT_GE(engine.resets, 1);
    rig.receive(bytes({255, 253, 24}) + "SSH-2.0-x\r\n");
    EXPECT_EQ(engine.received, bytes({255, 253, 24}) + "SSH-2.0-x\r\n") << "no Telnet layer in SSH sessions";
    EXPECT_TRUE(rig.sock().writes.empty());
    EXPECT_EQ(rig.s.send_to_host(reinterpret_cast<const std::uint8_t*>("ls\r"), 3), 3);
    EXPECT_EQ(engine.user_data, "ls\r");
    rig.s.session_disconnect();
    EXPECT_FALSE(rig.s.connected());
    EXPECT_TRUE(rig.ui.messages.empty());
}

TEST(Pipeline, SshWithoutAnEngineIsRefusedClearly) {
    session_rig rig;
    rig.settings.ssh = 1;
    rig.sync();
    EXPECT_EQ(rig.s.transport(), TransportKind::Ssh1);
    EXPECT_FALSE(rig.connect());
    EXPECT_EQ(rig.sockets.created, 0);
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_EQ(rig.ui.messages[0], session_msg::no_ssh);
}

TEST(HexDump, Layout) {
    const local_time t{9, 5, 7, 42};
    std::string out;
    const std::uint8_t ls[] = {0x6C, 0x73, 0x0D};
    format_hex_dump(out, "PC (RAW)", t, ls, 3);
    EXPECT_EQ(out, "PC (RAW) -- 09:05:07.42\n6c 73 0d " + std::string(13 * 3, ' ') + "    ls.\n\n");

    out.clear();
    std::uint8_t sixteen[16];
    for (int i = 0; i < 16; ++i) sixteen[i] = static_cast<std::uint8_t>(0x41 + i);
    format_hex_dump(out, "L", {23, 59, 0, 999}, sixteen, 16);
    EXPECT_EQ(out, "L -- 23:59:00.999\n41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50     ABCDEFGHIJKLMNOP\n\n");

    out.clear();
    format_hex_dump(out, "E", {0, 0, 0, 0}, nullptr, 0);
    EXPECT_EQ(out, "E -- 00:00:00.0\n\n");

    out.clear();
    std::uint8_t seventeen[17] = {};
    seventeen[16] = 0xFF;
    format_hex_dump(out, "S", t, seventeen, 17);
    EXPECT_NE(out.find("\nff " + std::string(15 * 3, ' ') + "    \xff\n\n"), std::string::npos) << out;
}

TEST(DebugLog, OnlySshTrafficIsLoggedToAPrivateFile) {
    temp_dir dir;
    const std::string path = dir.file("state/qtelnet/vtlog");
    for (bool ssh : {false, true}) {
        session_rig rig;
        fake_ssh engine;
        rig.s.set_ssh_engine(&engine);
        rig.settings.ssh = ssh ? 1 : 0;
        rig.s.log().set_path(path);
        rig.s.toggle_debug_log();
        ASSERT_TRUE(rig.s.log_enabled());
        ASSERT_EQ(rig.ui.messages.size(), 1u);
        EXPECT_EQ(rig.ui.messages[0], "All data will be logged to file " + path);
        ASSERT_TRUE(rig.connect());
        rig.receive("abc");
        rig.receive("de");
        rig.s.send_to_host(reinterpret_cast<const std::uint8_t*>("x"), 1);
        rig.s.session_write(reinterpret_cast<const std::uint8_t*>("\r"), 1);  // as an SSH engine writes a packet
        rig.s.toggle_debug_log();
        EXPECT_FALSE(rig.s.log_enabled());
        const std::string log = read_file(path);
        if (!ssh) {
            EXPECT_EQ(log, "");
        } else {
            EXPECT_EQ(log, "FROM UNIX (RAW) -- 09:05:07.42\n61 62 63 " + std::string(39, ' ') +
                               "    abc\n\n"
                               "FROM UNIX (RAW) -- 09:05:07.42\n64 65 " +
                               std::string(42, ' ') +
                               "    de\n\n"
                               "PC (RAW) -- 09:05:07.42\n0d " +
                               std::string(45, ' ') + "    .\n\n");
        }
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
}

TEST(DebugLog, SshTerminalDataIsLoggedAsReceivedAndShownTranslated) {
    temp_dir dir;
    session_rig rig;
    fake_ssh engine;
    rig.s.set_ssh_engine(&engine);
    rig.settings.ssh = 1;
    rig.nettopc['h'] = 'H';
    rig.s.log().set_path(dir.file("vtlog"));
    rig.s.toggle_debug_log();
    ASSERT_TRUE(rig.connect());
    const std::string data = "hi\n";
    rig.s.session_deliver(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    rig.s.log().close();
    EXPECT_EQ(read_file(dir.file("vtlog")),
              "FROM UNIX (descrypted) -- 09:05:07.42\n68 69 0a " + std::string(39, ' ') + "    hi.\n\n");
    EXPECT_EQ(rig.row(1), "Hi");
}

TEST(DebugLog, EachConnectionStartsAnEmptyLog) {
    temp_dir dir;
    session_rig rig;
    rig.s.log().set_path(dir.file("vtlog"));
    rig.s.toggle_debug_log();
    ASSERT_TRUE(rig.connect());
    rig.s.session_log_line("first");
    rig.s.disconnect(true);
    rig.s.session_log_line("after disconnect");
    ASSERT_TRUE(rig.connect());
    rig.s.session_log_line("second");
    rig.s.log().close();
    EXPECT_EQ(read_file(dir.file("vtlog")), "second\n");
}

// Files the user did not get: each refusal is told once with its reason, and nothing is written through a
// planted link.
TEST(Pipeline, CaptureRefusalsAreToldOnceAndStopCapture) {
    struct refusal {
        const char* name;
        const char* chosen;                          // inside the scratch folder unless absolute
        std::function<void(const temp_dir&)> plant;  // run after the file was chosen
        std::string why;                             // the reason the message gives
    };
    std::vector<int> readers;  // FIFO readers, closed once the case is done
    const std::vector<refusal> cases = {
        {"link planted after the choice", "cap.txt",
         [](const temp_dir& d) { std::filesystem::create_symlink(d.file("victim"), d.file("cap.txt")); },
         ": a link stands at that place. "},
        {"folder gone", "sub/cap.txt",
         [](const temp_dir& d) { std::filesystem::rename(d.path / "sub", d.path / "gone"); },
         std::string(": ") + std::strerror(ENOENT) + ". "},
        {"a FIFO without a reader", "cap.txt", [](const temp_dir& d) { ::mkfifo(d.file("cap.txt").c_str(), 0600); },
         ": it is not a regular file (a FIFO). "},
        {"a FIFO with a reader", "cap.txt",
         [&readers](const temp_dir& d) {
             ::mkfifo(d.file("cap.txt").c_str(), 0600);
             readers.push_back(::open(d.file("cap.txt").c_str(), O_RDONLY | O_NONBLOCK));
         },
         ": it is not a regular file (a FIFO). "},
        {"a folder", "cap.txt", [](const temp_dir& d) { std::filesystem::create_directory(d.path / "cap.txt"); },
         ": it is not a regular file (a folder). "},
        {"a device", "/dev/null", [](const temp_dir&) {}, ": it is not a regular file (a device). "},
        {"a socket", "cap.sock",
         [](const temp_dir& d) {
             const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un a{};
             a.sun_family = AF_UNIX;
             std::snprintf(a.sun_path, sizeof a.sun_path, "%s", d.file("cap.sock").c_str());
             ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
             ::close(fd);
         },
         ": it is not a regular file (a socket). "},
    };
    for (const auto& c : cases) {
        temp_dir dir;
        std::filesystem::create_directory(dir.path / "sub");
        std::ofstream(dir.file("victim")) << "keep";
        session_rig rig;
        ASSERT_TRUE(rig.connect());
        const std::string chosen = c.chosen[0] == '/' ? c.chosen : dir.file(c.chosen);
        rig.s.set_capture_file(chosen);
        c.plant(dir);
        rig.receive("first");
        rig.receive("second");
        for (int fd : readers) {
            char got[16];
            EXPECT_LE(::read(fd, got, sizeof got), 0) << "nothing reached the reader";
            ::close(fd);
        }
        readers.clear();
        ASSERT_EQ(rig.ui.messages.size(), 1u) << c.name;
        EXPECT_EQ(rig.ui.messages[0].rfind(session_msg::capture_failed, 0), 0u) << rig.ui.messages[0];
        EXPECT_NE(rig.ui.messages[0].find(chosen + c.why), std::string::npos) << rig.ui.messages[0];
        EXPECT_EQ(rig.s.capture_file(), "") << c.name;
        EXPECT_EQ(read_file(dir.file("victim")), "keep") << c.name;
        EXPECT_EQ(rig.row(1), "firstsecond") << "the session itself goes on: " << c.name;
    }

    // A link the user chose is followed.
    temp_dir dir;
    std::filesystem::create_symlink(dir.file("real.txt"), dir.file("chosen.txt"));
    std::ofstream(dir.file("real.txt")) << "";
    session_rig rig;
    ASSERT_TRUE(rig.connect());
    rig.s.set_capture_file(dir.file("chosen.txt"));
    rig.receive("kept");
    EXPECT_TRUE(rig.ui.messages.empty());
    EXPECT_EQ(read_file(dir.file("real.txt")), "kept");
}

TEST(DebugLog, ARefusedLogFileIsToldInsteadOfPromisingALog) {
    temp_dir dir;
    std::ofstream(dir.file("victim")) << "keep";
    std::filesystem::create_symlink(dir.file("victim"), dir.file("vtlog"));
    std::ofstream(dir.file("plain")) << "";
    ::mkfifo(dir.file("fifo").c_str(), 0600);
    const std::pair<std::string, std::string> cases[] = {
        {dir.file("vtlog"), ": a link stands at that place. "},
        {dir.file("plain") + "/qtelnet/vtlog", std::string(": ") + std::strerror(ENOTDIR) + ". "},
        {dir.file("fifo"), ": it is not a regular file (a FIFO). "},
    };
    for (const auto& [path, why] : cases) {
        session_rig rig;
        rig.s.log().set_path(path);
        rig.s.toggle_debug_log();
        ASSERT_EQ(rig.ui.messages.size(), 1u) << path;
        EXPECT_EQ(rig.ui.messages[0].rfind(session_msg::log_failed, 0), 0u) << rig.ui.messages[0];
        EXPECT_NE(rig.ui.messages[0].find(path + why), std::string::npos) << rig.ui.messages[0];
        EXPECT_FALSE(rig.s.log_enabled());
    }
    EXPECT_EQ(read_file(dir.file("victim")), "keep");
}

TEST(DebugLog, WithoutHomeTheLogStaysInTheAccountsOwnFolder) {
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    const char* state = std::getenv("XDG_STATE_HOME");
    const std::string saved_state = state ? state : "";
    ::unsetenv("HOME");
    ::unsetenv("XDG_STATE_HOME");
    const std::string path = default_debug_log_path();
    if (!home.empty()) ::setenv("HOME", home.c_str(), 1);
    if (state) ::setenv("XDG_STATE_HOME", saved_state.c_str(), 1);
    const passwd* pw = ::getpwuid(::getuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(path, std::string(pw->pw_dir) + "/.local/state/qtelnet/vtlog");
    EXPECT_NE(path.rfind("/tmp", 0), 0u);
}

}  // namespace
