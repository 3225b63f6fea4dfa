#pragma once
// The questions of SSH sign-on beyond the password: the passphrase of a private key file, and a
// keyboard-interactive round (the server's name as title, its instruction, one field per prompt). Answers are typed
// hidden unless the server allows echo; the caller wipes what it gets back. Server texts are shown as plain text.
// Also the wait for a key derivation, which runs off the UI thread behind a progress dialog.
#include <QDialog>
#include <QString>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ssh/services.h"

class QLineEdit;
struct ssh_profile;

class key_passphrase_dialog : public QDialog {
public:
    explicit key_passphrase_dialog(const QString& key_file, QWidget* parent = nullptr);
    // The typed passphrase; the field is emptied so the text lives in one place only.
    std::string take();

private:
    QLineEdit* edit_;
};

class keyboard_interactive_dialog : public QDialog {
public:
    // `prompts` must not be empty: a round without prompts is answered without asking.
    keyboard_interactive_dialog(const QString& name, const QString& instruction,
                                const std::vector<ssh::kbd_prompt>& prompts, QWidget* parent = nullptr);
    std::vector<std::string> take();

private:
    std::vector<QLineEdit*> edits_;
};

// The sign-on dialog of the negotiated SSH-2 mode, which asks only for the password: the user name is shown and
// cannot be edited (it was sent to the host already). On OK the password and remember flag are stored into `s`;
// its user name stays. False when cancelled.
bool ask_sign_on_password(ssh_profile& s, QWidget* parent = nullptr);
std::optional<std::string> ask_key_passphrase(std::string_view key_file, QWidget* parent = nullptr);
std::optional<std::vector<std::string>> ask_keyboard_interactive(std::string_view name, std::string_view instruction,
                                                                 const std::vector<ssh::kbd_prompt>& prompts,
                                                                 QWidget* parent = nullptr);

// Runs `work` on a worker thread and returns once it has returned; true when it ran to its end. Work done within a
// quarter of a second shows nothing. Longer work shows a modal progress dialog with `text` and a Cancel button
// that keeps the windows painting; Cancel (or Escape, or closing the dialog) sets the flag `work` is given and
// waits for it to return, which work must do soon after the flag is set. No thread outlives the call.
bool run_with_progress(const QString& text, const std::function<void(const std::atomic<bool>& cancel)>& work,
                       QWidget* parent = nullptr);
