#pragma once
// What the SSH engines ask of the user beyond message boxes. The Qt client shows dialogs; tools and tests answer
// from the settings.
struct Settings;

namespace ssh {

struct ssh_prompts {
    virtual ~ssh_prompts() = default;
    // The sign-on dialog, filled with the user name, password and remember flag of `s`; on OK the three values are
    // stored back into `s`. False when cancelled.
    virtual bool sign_on(Settings& s) = 0;
};

}  // namespace ssh
