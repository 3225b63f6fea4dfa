#pragma once
// The one network session of the terminal view: the receive and send pipeline, Telnet through netop, connecting
// directly or through a proxy (SOCKS 4, SOCKS 5 or a free-form log-in text), auto-login, capture append and the debug log.
//
// Ownership and use (a `connection`, session/connection.h, makes and owns one, with the record it reads):
//   session s(term, record, nettopc_table(), pctonet_table(), sockets, proxy_timer, ui, view_hooks,
//             system_session_clock());
//   proxy_timer expiry          -> s.on_proxy_timer()        (timer 1, one-shot: proxy log-in and set-up limit)
//   Connect command / dialog    -> s.connect_to(host, port)   then repaint everything
//   Disconnect command          -> if (s.busy()) s.disconnect(true)   (also cancels an attempt being set up)
//   Esc key                     -> if (s.setting_up()) s.disconnect(true), the key is consumed
//   left mouse press            -> if (s.abort_connect_by_click()) the click is consumed
//   keyboard, paste, file send  -> s.send_to_host(bytes, n)
//   "SS&H log to a file"        -> s.toggle_debug_log(); check mark: s.log_enabled()
//   capture ("&Save to File...")-> s.set_capture_file(path) / s.capture_file()
//   translation tables          -> read through the references given at construction (fill them in
//                                  session_view::connection_starting at the first connection)
//   SSH engines                 -> s.set_ssh_engine(&engine); they call back through session_services
//   endings                     -> s.set_ending_listener(f): each one pushed, the connection already let go
// Socket notifications go straight from the socket adapter to the session (it is the socket_events sink).
// Everything runs on the user-interface thread. Message boxes, the engines' questions and the ending listener wait
// while the session handles an event and come, in the order raised, once it has returned (messages()): no dialog's
// event loop runs under a read pass or an engine step. A read pass pumps the event loop once (pump_pending_messages)
// and checks afterwards whether the session is still the same.
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/maps.h"
#include "session/attempt.h"
#include "session/debug_log.h"
#include "session/interfaces.h"
#include "session/profile.h"
#include "config/ui_services.h"
#include "session/telnet.h"

class vt;

// Local time from the system clock.
session_clock& system_session_clock();


// Fixed sizes of the pipeline.
inline constexpr std::size_t receive_buffer_size = 2000;
inline constexpr std::size_t proxy_text_size = 80;  // decoded proxy text and its substituted result
inline constexpr std::size_t socks_host_size = 80;  // host name for the SOCKS lookup, terminator included
inline constexpr std::size_t autologin_response_size = 200;
// Then the session yields to the event loop: enough passes to drain what the socket holds, so a notification that
// finds a full socket buffer needs no second one.
inline constexpr std::size_t receive_passes_per_notification = socket_read_buffer_limit / receive_buffer_size + 2;

// Services the SSH engines call. All of them do nothing unless a socket exists and the session is connected.
struct session_services {
    virtual ~session_services() = default;
    virtual int session_write(const std::uint8_t* bytes, std::size_t n) = 0;
    virtual void session_deliver(const std::uint8_t* bytes, std::size_t n) = 0;
    virtual void session_log_hex(std::string_view label, const std::uint8_t* bytes, std::size_t n) = 0;
    virtual void session_log_line(std::string_view text) = 0;
    // The engine ends the session in order (the shell exited, the user cancelled a question): ssh_reset, then
    // disconnect without exit.
    virtual void session_disconnect() = 0;
    // The engine gives up: `text` is shown and kept as the ending's cause, and the session ends as above.
    virtual void session_fail(std::string_view text) = 0;
    // Puts `q` to the user once the current step has returned, after the messages raised before it; its answer
    // is applied only if the session is still the one that asked. The engine takes no packet meanwhile.
    virtual void session_ask(user_question q) = 0;
};

// How the latest connection or attempt ended, for the status bar and the reconnect rules.
struct session_ending {
    std::string cause;        // the message box's text (a second line gives the cause); empty: nothing ended yet
    bool by_user = false;     // Disconnect, Esc or a click gave it up
    bool unexpected = false;  // an established session was lost (reset, keep-alive timeout, an SSH failure)
};

// Message texts shown by the session.
namespace session_msg {
inline constexpr std::string_view send_overflow = "Cannot send data to the host. Check TCP/IP protocol stack.";
inline constexpr std::string_view no_socket = "Cannot access the socket interface. Check the tcp/ip protocol stack.";
inline constexpr std::string_view cannot_connect = "Sorry, cannot create a connection to the selected host.";
inline constexpr std::string_view aborted = "Connection has been aborted. (Left mouse key pressed)";
inline constexpr std::string_view lost = "Connection to host has been lost";
// A Telnet host ended an established session in order (no reset, no error): the cause under `lost` is
// "The host 127.0.0.1:23 closed the connection."
inline constexpr std::string_view host_closed = "closed the connection.";
inline constexpr std::string_view dns =
    "Cannot make a DNS lookup for the host. Check tcp/ip configuration or use a raw ip address.";
inline constexpr std::string_view log_prefix = "All data will be logged to file ";
inline constexpr std::string_view log_failed = "The debug log cannot be written to ";
inline constexpr std::string_view capture_failed = "The session cannot be captured to ";
inline constexpr std::string_view proxy_too_long = "The proxy log-in text is too long; nothing was sent to the proxy.";
inline constexpr std::string_view response_too_long =
    "An auto-login response is too long (more than 200 bytes); it was not sent.";
inline constexpr std::string_view no_ssh = "Secure Shell is not available in this program. Use Telnet instead.";
// Second lines under cannot_connect when the set-up limit runs out, each naming whom it waited for: "No answer
// from 127.0.0.1:2323: timed out after N s.", "The proxy myproxy:1080 did not accept the connection within N s.",
// "The proxy did not complete the connection to h:23 within N s.", "The host user@h:22 did not complete the SSH
// key exchange within N s."
inline constexpr std::string_view no_answer = "timed out after";
inline constexpr std::string_view proxy_no_answer = "did not accept the connection";
inline constexpr std::string_view proxy_incomplete = "The proxy did not complete the connection to";
inline constexpr std::string_view key_exchange_incomplete = "did not complete the SSH key exchange";
inline constexpr std::string_view socks5_no_method =
    "The SOCKS 5 proxy asks for an authentication method this program does not offer.";
inline constexpr std::string_view socks5_garbled = "The proxy's answer is not a SOCKS 5 reply.";
}  // namespace session_msg

// The second line for a socket failure (empty when there is nothing to add); host is the name that was looked up.
std::string socket_failure_text(const socket_failure& failure, std::string_view host);

class session final : public socket_events, public session_services, private netop_host {
public:
    session(vt& terminal, connection_profile& profile, const translation_table_t& nettopc,
            const translation_table_t& pctonet, socket_factory& sockets, session_timer& proxy_timer, ui_services& ui,
            session_view& view, session_clock& clock);
    ~session() override;
    session(const session&) = delete;
    session& operator=(const session&) = delete;

    // --- state ------------------------------------------------------------------------------------------------
    bool connected() const { return a_->connected; }
    bool connecting() const { return a_->connecting; }
    // Connect command enabled only when neither is true.
    bool busy() const { return a_->connected || a_->connecting; }
    // From the connect attempt until the session is established: TCP connected, the proxy log-in sent and a SOCKS
    // grant read, and for SSH the key exchange finished. The set-up time limit (`connect_timeout`) runs meanwhile.
    bool setting_up() const { return a_->setting_up; }
    TransportKind transport() const;
    // Read notifications during the running read pass (1 for its own); 0 when none runs.
    int receive_guard() const { return a_->receive_guard; }
    std::size_t send_queue_count() const { return a_->send_queue_count; }
    bool socks_reply_pending() const { return a_->socks_reply_pending; }
    bool proxy_login_pending() const { return a_->proxy_login_pending; }

    // --- connection -------------------------------------------------------------------------------------------
    // Opens a session; false on failure (the message has been shown). Callers repaint the whole view afterwards.
    bool connect_to(std::string_view host, int port);
    // Closes the session; with suppress_exit false and `exit` on, the program is asked to close as well.
    void disconnect(bool suppress_exit);
    // How the latest connection or attempt ended.
    const session_ending& last_ending() const { return ending_; }
    // Told of each ending once, after the session has let go of its connection (busy() is false then), so the
    // listener may schedule the next attempt. It must not connect from inside the call.
    void set_ending_listener(std::function<void(const session_ending&)> listener) {
        ending_listener_ = std::move(listener);
    }
    // The next attempt's failure to connect or to set up is kept as its ending without a message box (the
    // automatic reconnect counts down in the status bar instead). Cleared by every connect_to.
    void quiet_next_attempt() { quiet_next_ = true; }
    // Bytes read from the socket since the program started, and whether this connection sent something through
    // send_to_host after the host's latest data (liveness).
    std::uint64_t bytes_received() const { return bytes_received_; }
    bool answer_owed() const { return a_->answer_owed; }
    // A left mouse press while a connect is still waiting cancels it. True when the click was used for that.
    bool abort_connect_by_click();
    // Timer 1: the delayed proxy log-in and the set-up time limit, both counted from the connect attempt.
    void on_proxy_timer();
    // A question the session does not put itself is open (a jump host's host key or sign-on, asked from the
    // socket's own events): the set-up limit does not run out while it waits for the user.
    void user_question_open(bool open) { user_questions_ += open ? 1 : -1; }

    // --- data paths -------------------------------------------------------------------------------------------
    // The single outgoing path: bytes taken by the socket (Telnet), n (SSH), or 0 when nothing was sent. In Telnet
    // sessions a data byte 255 goes out doubled, so the host does not take it for IAC.
    int send_to_host(const std::uint8_t* bytes, std::size_t n);
    // Hands terminal data to the emulator; replies go out at once, before the next byte.
    void display_from_host(const std::uint8_t* bytes, std::size_t n);
    // Decodes a settings text with the escape rule, translates its literal characters through pctonet_table and
    // sends it in one send_to_host call.
    int send_text_escaped(std::string_view text);

    // --- socket notifications ---------------------------------------------------------------------------------
    void on_read(int error) override;
    void on_connect_complete(int error) override;
    void on_close() override;
    void on_write_ready() override;

    // --- SSH seam ---------------------------------------------------------------------------------------------
    void set_ssh_engine(ssh_engine* engine) { ssh_ = engine; }
    int session_write(const std::uint8_t* bytes, std::size_t n) override;
    void session_deliver(const std::uint8_t* bytes, std::size_t n) override;
    void session_log_hex(std::string_view label, const std::uint8_t* bytes, std::size_t n) override;
    void session_log_line(std::string_view text) override;
    void session_disconnect() override;
    void session_fail(std::string_view text) override;
    void session_ask(user_question q) override;
    // Where the engines' message boxes go: held like the session's own while an event is handled.
    ui_services& messages() { return messages_; }

    // --- capture and debug log --------------------------------------------------------------------------------
    // Empty path: capture off. Every block of terminal data is appended to the file, which is opened and closed
    // for each block; a file that cannot be opened or written is reported once and capture stops.
    void set_capture_file(std::string path);
    const std::string& capture_file() const { return capture_path_; }
    // "SS&H log to a file": on shows the message naming the file and opens it truncated; off closes it.
    void toggle_debug_log();
    bool log_enabled() const { return log_enabled_; }
    debug_log& log() { return log_; }

    // --- auto-login -------------------------------------------------------------------------------------------
    bool auto_login_pending(int pair) const { return pair >= 1 && pair <= 2 && a_->auto_pending[pair - 1]; }

    const netop& telnet() const { return a_->telnet; }
    // The terminal's grid. Telnet tells it the host by NAWS with screen_size 1 (the SSH engine has its own call).
    void set_window_size(int rows, int columns) {
        grid_.take(rows, columns);
        a_->telnet.set_window_size(rows, columns);
    }

private:
    // netop_host
    void send_command(const std::uint8_t* bytes, std::size_t n) override;
    void set_host_echo(bool on) override;
    std::string_view terminal_type() const override;
    bool tells_window_size() const override;

    int queue_and_write(const std::uint8_t* bytes, std::size_t n, bool double_iac);
    int flush_queue();
    void report_overflow();
    long read_pass();
    void telnet_pass(const std::uint8_t* in, std::size_t n);
    std::uint8_t translate_incoming(std::uint8_t b);
    void auto_login_check(const std::uint8_t* text, std::size_t n);
    void capture_append(const std::uint8_t* data, std::size_t n);
    void capture_failed(const char* why);
    void report_log_failure();
    void send_socks_request();
    void send_proxy_text();
    // Ends an established session: "lost" with cause as its second line (if any), no message with `exit` on.
    void lost_connection(std::string_view cause = {});
    void host_closed();
    int socks_version() const;  // proxy_socks_enable 5: SOCKS 5, any other non-zero value: SOCKS 4
    bool read_socks5_reply(std::size_t n, std::size_t& off);
    void send_socks5_request();
    void discard_connection();
    // The SSH engine when this session runs SSH; null for Telnet or without an engine.
    ssh_engine* active_ssh() const;
    void host_reached();
    void connect_failed();
    void start_setup();
    void arm_timer();
    void setup_progress();
    void setup_expired();
    void end_setup();
    void set_ending(std::string cause, bool unexpected, bool by_user = false);
    void refuse_attempt(std::string_view text);
    void close_connection(bool suppress_exit);  // disconnect without taking the ending for the user's
    void attempt_failed(std::string text);
    // Shows `text` now, or once the event being handled has returned.
    void say(std::string_view text);
    void run_held();
    bool holding() const { return holding_ > 0 || running_held_; }
    // Held while alive: what the session and its engine raise waits until the outermost one ends.
    struct hold {
        session& s;
        explicit hold(session& owner) : s(owner) { ++s.holding_; }
        ~hold() {
            if (--s.holding_ == 0) s.run_held();
        }
        hold(const hold&) = delete;
        hold& operator=(const hold&) = delete;
    };
    struct held_item {
        enum class kind { message, ending, question } what;
        std::string text;
        session_ending ending;
        user_question question;
        unsigned generation = 0;
    };
    struct message_sink final : ui_services {
        session& s;
        explicit message_sink(session& owner) : s(owner) {}
        void message_box(std::string_view text) override { s.say(text); }
        bool ask_yes_no(std::string_view text) override;
    };

    // Every call that may end up replacing the attempt holds one: an attempt retired under a running call is
    // freed only once the outermost has returned.
    struct entered {
        session& s;
        explicit entered(session& owner) : s(owner) { ++s.depth_; }
        ~entered();
        entered(const entered&) = delete;
        entered& operator=(const entered&) = delete;
    };
    // The attempt for a connect to host:port, with what it starts from.
    void fresh_attempt(std::string_view host, int port);

    vt& vt_;
    connection_profile& p_;
    socket_factory& sockets_;
    session_timer& timer_;
    ui_services& ui_;
    session_view& view_;
    ssh_engine* ssh_ = nullptr;
    const translation_table_t& nettopc_;
    const translation_table_t& pctonet_;
    session_clock& clock_;

    std::unique_ptr<attempt> a_;  // never null: before the first connect an idle one
    std::vector<std::unique_ptr<attempt>> retired_;
    int depth_ = 0;            // entered scopes open
    unsigned generation_ = 0;  // bumped at every connect and disconnect: the pump and questions check it
    grid_size grid_;           // the terminal's grid, for each attempt's NAWS
    int user_questions_ = 0;   // questions open through user_question_open

    // Scratch for one read pass and its translated output.
    std::array<std::uint8_t, receive_buffer_size> rx_{};
    std::array<std::uint8_t, receive_buffer_size + 1> out_{};

    session_ending ending_;
    std::function<void(const session_ending&)> ending_listener_;
    int holding_ = 0;  // hold scopes open
    bool running_held_ = false;
    std::deque<held_item> held_;
    message_sink messages_{*this};
    bool quiet_next_ = false;  // quiet_next_attempt() for the coming connect_to
    std::uint64_t bytes_received_ = 0;

    std::string capture_path_;
    bool log_enabled_ = false;  // "SS&H log to a file"; not saved
    debug_log log_;
};
