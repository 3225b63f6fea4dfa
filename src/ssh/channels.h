#pragma once
// The SSH-2 connection layer's channels (RFC 4254 section 5): a table of rows, each with both ends' numbers, both
// windows, the host's maximum packet, a state and the handler of its channel type. Messages for a channel are
// dispatched by the recipient number the host gives; a number not in the table is a protocol error. A row stays until
// CLOSE has gone both ways (RFC 4254 section 5.3), so what the host sent before it saw ours still finds it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "ssh/wire.h"

namespace ssh {

struct channel;

// What a channel type does with what arrives for it. The connection layer has found the row and read the fields;
// a handler may end the session, so the caller checks that before touching the row again.
class channel_handler {
public:
    virtual ~channel_handler() = default;
    // OPEN_CONFIRMATION; r holds the type-specific data, if any.
    virtual void opened(channel& c, wire_reader& r) = 0;
    // OPEN_FAILURE with the host's reason code and text.
    virtual void open_refused(channel& c, std::uint32_t reason, std::string_view text) = 0;
    // DATA (no code) and EXTENDED_DATA (with its data type code).
    virtual void data(channel& c, std::span<const std::uint8_t> d, std::optional<std::uint32_t> code) = 0;
    virtual void eof(channel& c) = 0;
    virtual void closed(channel& c) = 0;
    // CHANNEL_REQUEST from the host; r holds the request-specific data.
    virtual void request(channel& c, std::string_view type, bool want_reply, wire_reader& r) = 0;
    // CHANNEL_SUCCESS (true) or CHANNEL_FAILURE for a request of ours.
    virtual void reply(channel& c, bool success) = 0;
    // True: the handler reopens the window itself as its data is used up (tunnels: only what the far end took),
    // instead of the window being topped up on arrival.
    virtual bool own_window() const { return false; }
    // The host's WINDOW_ADJUST made room (after what waited was sent).
    virtual void writable(channel& c) { (void)c; }
};

enum class channel_state : std::uint8_t {
    opening,  // CHANNEL_OPEN sent, no answer yet
    open,
    closing,  // our CLOSE sent
};

struct channel {
    std::uint32_t local_id = 0;
    std::uint32_t remote_id = 0;
    // What the host may still send, and the size each WINDOW_ADJUST restores (topped up when half is used).
    std::uint32_t local_window = 0;
    std::uint32_t window_size = 0;
    // A handler with its own window: what its reader took since the last WINDOW_ADJUST (see reopen_window).
    std::uint32_t consumed = 0;
    std::uint32_t max_packet = 0;  // the largest data we announced
    // What we may still send and the host's largest data packet, from its confirmation.
    std::uint32_t remote_window = 0;
    std::uint32_t remote_max_packet = 0;
    // Whether outgoing data waits for the host's window (negotiated mode; the fixed suite never waits).
    bool window_limited = false;
    channel_state state = channel_state::opening;
    // The handler let go (its SFTP client failed, say): the engine closes the channel, drops whatever still arrives
    // for it and frees the row on the host's CLOSE (or its refusal of the open), the handler hearing nothing more.
    bool released = false;
    channel_handler* handler = nullptr;
    // Outgoing bytes waiting for window, at most pending_limit of them.
    std::vector<std::uint8_t> pending;
    std::size_t pending_limit = 0;
};

class channel_table {
public:
    // The numbers given out start at the session channel's written 27.
    static constexpr std::uint32_t first_id = 27;
    // A browser through a dynamic forward opens hundreds; the bound keeps a runaway peer or page from taking memory
    // without end (a row is about 100 bytes, its tunnel link's buffers far more).
    static constexpr std::size_t max_channels = 4096;

    channel_table() = default;
    ~channel_table();
    channel_table(const channel_table&) = delete;
    channel_table& operator=(const channel_table&) = delete;

    // A new row in state opening under the lowest free number from first_id; null when the table is full.
    channel* add(channel_handler& h, std::uint32_t window, std::uint32_t max_packet, bool window_limited,
                 std::size_t pending_limit);
    channel* find(std::uint32_t local_id) const;
    void remove(std::uint32_t local_id);
    void clear();
    std::size_t size() const { return count_; }

private:
    // Indexed by number - first_id; a free number is a null slot, trailing ones trimmed.
    std::vector<std::unique_ptr<channel>> rows_;
    std::size_t count_ = 0;
    std::size_t lowest_free_ = 0;  // no free slot below it
};

// Counts `n` arrived bytes against the local window (a host that sends more than allowed empties it instead of
// wrapping the count). Once half of it is used the window is restored to its size: the increase to send in
// WINDOW_ADJUST, 0 while none is due.
std::uint32_t consume_window(channel& c, std::size_t n);

// For a handler with its own window: its reader took `n` bytes. Once half the window has been taken since the last
// WINDOW_ADJUST, the window grows back by what was taken: the increase to send, 0 while none is due.
std::uint32_t reopen_window(channel& c, std::size_t n);

// The host's WINDOW_ADJUST, the window kept at 2^32 - 1 at most.
void grow_remote_window(channel& c, std::uint32_t add);

// The most data one packet carries: the host's maximum packet when it named a smaller one than `cap`.
std::size_t data_piece(const channel& c, std::size_t cap);

}  // namespace ssh
