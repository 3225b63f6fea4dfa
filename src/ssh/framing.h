#pragma once
// What both SSH engines share below their packet formats: the server's identification line at the start of a
// connection, and the reassembly buffer that collects socket reads until a whole packet is there.
#include <array>
#include <cstddef>
#include <cstdint>
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

inline constexpr std::size_t packet_buffer_size = 65536;
inline constexpr std::size_t reassembly_limit = 65535;

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
    // False when the buffered bytes plus these would pass reassembly_limit: the buffered bytes are dropped and the
    // new bytes alone become the content (all dropped when they alone are too many).
    bool append(const std::uint8_t* p, std::size_t n);
    std::uint8_t* data() { return buf_.data() + head_; }
    std::size_t size() const { return fill_ - head_; }
    void consume(std::size_t n);
    void clear();
    // The first block of the packet at the head has been decrypted in place already.
    bool head_decrypted = false;

private:
    std::array<std::uint8_t, packet_buffer_size> buf_{};
    std::size_t head_ = 0;
    std::size_t fill_ = 0;
};

}  // namespace ssh
