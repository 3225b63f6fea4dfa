#pragma once
// One direction's protection of SSH-2 packets. The transport frames, pads, numbers and logs packets; how a packet's
// length is read and how the packet is sealed and opened is the object's business, so the packet code never asks
// which cipher or MAC it holds. The base class is the state before keys: clear text, 8-byte padding, no trailer.
//
// The framings: the classic MAC over the plain packet (RFC 4253 section 6.4), encrypt-then-MAC (length in clear,
// MAC over the encrypted packet), AES-GCM (RFC 5647: length in clear as additional data) and chacha20-poly1305
// (length under its own key). Sequence numbers belong to the transport and are passed in.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "ssh/algorithms.h"

namespace ssh {

class packet_cipher {
public:
    packet_cipher() = default;
    virtual ~packet_cipher() = default;
    packet_cipher(const packet_cipher&) = delete;
    packet_cipher& operator=(const packet_cipher&) = delete;

    // The multiple the padded part is made up to.
    virtual std::size_t block() const { return 8; }
    // MAC or tag bytes behind each packet.
    virtual std::size_t trailer() const { return 0; }
    // The length field lies outside the padded and encrypted part (in clear or under its own key).
    virtual bool length_apart() const { return false; }
    // Bytes needed before length() can be asked.
    virtual std::size_t head() const { return 4; }
    // The packet length from its first head() bytes. A block cipher decrypts them in place, so this is asked once
    // per packet.
    virtual std::uint32_t length(std::uint32_t seq, std::uint8_t* p);
    // A length this framing can carry (whole blocks where nothing is decrypted before it is authenticated).
    virtual bool length_fits(std::uint32_t) const { return true; }
    // Authenticates (where the framing checks before decrypting) and decrypts packet p of 4 + len bytes, its
    // trailer behind it, in place; the length field is left in clear. False: the packet is forged.
    virtual bool open(std::uint32_t, std::uint8_t*, std::uint32_t) { return true; }
    // The classic MAC, over the plain packet, checked only after the packet has gone to the log (as the fixed
    // suite always did); true for the other framings.
    virtual bool verify_plain(std::uint32_t, const std::uint8_t*, std::uint32_t) const { return true; }
    // The classic MAC written at p + n before encryption; the bytes written (the log shows them), 0 otherwise.
    virtual std::size_t mac_plain(std::uint32_t, std::uint8_t*, std::size_t) { return 0; }
    // Encrypts p[0..n) (length field included) in place and writes the trailer at p + n.
    virtual void seal(std::uint32_t, std::uint8_t*, std::size_t) {}
};

// The protection for a cipher row and, unless it is AEAD, a MAC row, from the key values of an exchange (the IV,
// key and MAC key in the lengths the rows name). Null when a library context could not be made.
std::unique_ptr<packet_cipher> make_packet_cipher(const cipher_method& c, const mac_method* m, const std::uint8_t* iv,
                                                  const std::uint8_t* key, const std::uint8_t* mac_key);

}  // namespace ssh
