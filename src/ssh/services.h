#pragma once
// What the SSH engines ask of the user beyond message boxes. The Qt client shows dialogs; tools and tests answer
// from the settings.
#include <string_view>

struct Settings;

namespace ssh {

enum class host_key_answer { accept_once, accept_and_remember, cancel };

struct ssh_prompts {
    virtual ~ssh_prompts() = default;
    // The sign-on dialog, filled with the user name, password and remember flag of `s`; on OK the three values are
    // stored back into `s`. False when cancelled.
    virtual bool sign_on(Settings& s) = 0;
    // A host key found in no known_hosts file: trust it for this connection, trust it and add it to the user's
    // file, or end the connection. `fingerprint` is host_key_fingerprint's text.
    virtual host_key_answer confirm_host_key(std::string_view host, int port, std::string_view type,
                                             std::string_view fingerprint) = 0;
};

}  // namespace ssh
