#pragma once
// What both SSH engines share below their packet formats: the server's identification line at the start of a
// connection, and the reassembly buffer that collects socket reads until a whole packet is there.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ssh {

// Texts both engines show.
namespace msg {
inline constexpr std::string_view out_of_memory = "SSH out of memory";
inline constexpr std::string_view illegal_message = "Illegal SSH message. Out of memory";
inline constexpr std::string_view protocol_violation = "SSH protocol violation. Session must close!!!";
inline constexpr std::string_view no_user = "Cannot sign on to the host without a valid user name";
inline constexpr std::string_view bad_identification =
    "The host did not identify itself as an SSH server. Session must close!!!";
}  // namespace msg

// Text from the host (DISCONNECT reasons, banners) made harmless for a message box or the terminal: UTF-8 kept,
// every C0 and C1 control, DEL and ESC dropped except line feed and tab, a byte that is not UTF-8 shown as '?',
// at most `limit` bytes of the input read.
std::string host_text(std::string_view raw, std::size_t limit);
inline std::string host_text(std::span<const std::uint8_t> raw, std::size_t limit) {
    return host_text(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()), limit);
}
// A reason the host gives (DISCONNECT) for a message box: host_text of its first 1024 bytes, trailing blanks and
// line ends cut.
std::string host_reason(std::span<const std::uint8_t> raw);

inline constexpr std::size_t packet_buffer_size = 65536;
// Largest MAC or AEAD tag behind a packet (hmac-sha2-512).
inline constexpr std::size_t max_packet_trailer = 64;
// Room for the largest packet either engine accepts, trailer included, so a packet never fails for the way TCP
// happened to split it.
inline constexpr std::size_t reassembly_capacity = packet_buffer_size + max_packet_trailer;

// Reads the server's identification: lines before the one starting "SSH-" are skipped (RFC 4253 section 4.2), each
// line ends with LF or CR LF, and every byte after the identification line is packet data. Bytes may arrive in any
// split across reads.
class ident_reader {
public:
    // not_ssh: a byte no text line holds (a control byte, 0x7F, 0xFF: a Telnet server's negotiation, say).
    enum class status { need_more, done, too_long, not_ssh };
    static constexpr std::size_t max_line = 255;       // RFC 4253: 255 bytes with CR LF
    static constexpr std::size_t max_preamble = 8192;  // bytes of other lines tolerated before it

    void reset();
    // Takes the bytes of one read; `used` says how many belonged to the identification and the lines before it.
    // Once done, feed() is not called again.
    status feed(const std::uint8_t* p, std::size_t n, std::size_t& used);
    // The identification line without its terminator; valid once feed() returned done.
    std::string_view line() const { return {line_.data(), len_}; }

private:
    std::array<char, max_line + 1> line_{};
    std::size_t len_ = 0;
    std::size_t preamble_ = 0;
    bool overlong_ = false;  // the current line passed max_line: skipped if it is not the identification
};

// Received bytes not yet forming a whole packet. Fixed size; nothing is allocated per read.
class reassembly_buffer {
public:
    // Takes as many of the bytes as there is room for and says how many; the engine processes whole packets and
    // offers the rest again, so a read that holds the end of one packet and the start of the next never fails.
    std::size_t take(const std::uint8_t* p, std::size_t n);
    bool full() const { return size() == buf_.size(); }
    std::uint8_t* data() { return buf_.data() + head_; }
    std::size_t size() const { return fill_ - head_; }
    void consume(std::size_t n);
    void clear();
    // The first block of the packet at the head has been decrypted in place already.
    bool head_decrypted = false;

private:
    std::array<std::uint8_t, reassembly_capacity> buf_{};
    std::size_t head_ = 0;
    std::size_t fill_ = 0;
};

}  // namespace ssh
