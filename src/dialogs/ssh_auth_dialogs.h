#pragma once
// The questions of SSH sign-on beyond the password: the passphrase of a private key file, and a
// keyboard-interactive round (the server's name as title, its instruction, one field per prompt). Answers are typed
// hidden unless the server allows echo; the caller wipes what it gets back. Server texts are shown as plain text.
#include <QDialog>
#include <QString>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ssh/services.h"

class QLineEdit;

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

std::optional<std::string> ask_key_passphrase(std::string_view key_file, QWidget* parent = nullptr);
std::optional<std::vector<std::string>> ask_keyboard_interactive(std::string_view name, std::string_view instruction,
                                                                 const std::vector<ssh::kbd_prompt>& prompts,
                                                                 QWidget* parent = nullptr);
