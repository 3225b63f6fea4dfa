#pragma once
// What the SSH engines ask of the user beyond message boxes. The Qt client shows dialogs; tools and tests answer
// from the settings.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ssh/keys.h"

struct ssh_profile;

namespace ssh {

enum class host_key_answer { accept_once, accept_and_remember, cancel };

// A host key that came inside a certificate which did not earn trust by itself: what the question shows of it.
struct host_certificate_facts {
    std::string key_id;
    std::uint64_t serial = 0;
    std::string ca_type, ca_fingerprint;
    std::string problem;  // why the certificate alone was not enough
};

// One prompt of a keyboard-interactive round (RFC 4256): its text and whether the answer may be shown.
struct kbd_prompt {
    std::string text;
    bool echo = false;
};

struct ssh_prompts {
    virtual ~ssh_prompts() = default;
    // The sign-on dialog, filled with the user name, password and remember flag of `s`; on OK the three values are
    // stored back into `s`. False when cancelled.
    virtual bool sign_on(ssh_profile& s) = 0;
    // The password for the user name already in `s`, which the negotiated mode has been using and cannot change
    // now (the host would drop the connection); the same values come back. False when cancelled.
    virtual bool password(ssh_profile& s) { return sign_on(s); }
    // A host key found in no known_hosts file: trust it for this connection, trust it and add it to the user's
    // file, or end the connection. `fingerprint` is host_key_fingerprint's text.
    virtual host_key_answer confirm_host_key(std::string_view host, int port, std::string_view type,
                                             std::string_view fingerprint) = 0;
    // The same for the key of a host certificate that did not stand; the certificate's facts go beside the key's.
    virtual host_key_answer confirm_certified_host_key(std::string_view host, int port, std::string_view type,
                                                       std::string_view fingerprint,
                                                       const host_certificate_facts& certificate) {
        (void)certificate;
        return confirm_host_key(host, port, type, fingerprint);
    }
    // A keyboard-interactive round: the server's name and instruction and its prompts; the answers in order, or
    // nothing when the user cancels. The caller wipes the answers after use.
    virtual std::optional<std::vector<std::string>> keyboard_interactive(std::string_view name,
                                                                         std::string_view instruction,
                                                                         const std::vector<kbd_prompt>& prompts) {
        (void)name;
        (void)instruction;
        (void)prompts;
        return std::nullopt;
    }
    // The passphrase of a private key file, or nothing when cancelled. Never stored; the caller wipes it.
    virtual std::optional<std::string> key_passphrase(std::string_view key_file) {
        (void)key_file;
        return std::nullopt;
    }
    // Reads a key file with its passphrase. The key derivation may take the better part of a minute: the Qt client
    // runs it off the UI thread, and a cancel gives key_status::cancelled. This default simply waits. Both views
    // need only outlive the call; the caller wipes the passphrase.
    virtual key_load load_key(std::string_view key_file, std::string_view passphrase) {
        return load_private_key(std::string(key_file), passphrase);
    }
};

}  // namespace ssh
