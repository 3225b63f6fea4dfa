#pragma once
// The settings backend on QSettings INI files.
//   Configurations: $XDG_CONFIG_HOME/QuillSoft/<program name>.conf (~/.config when unset), one group per
//   configuration, "Version 1.0/<configuration name>", one key per setting; integers stored as plain numbers.
//   Program directory `dir`: $XDG_CONFIG_HOME/QuillSoft/telnet.conf, key "dir" (per user; when the user has none,
//   QSettings falls back to the machine-wide /etc/xdg/QuillSoft/telnet.conf an administrator may provide).
// File names are case-sensitive here: every part of the program (client, installer, uninstaller) uses "qtelnet".
#include <QString>
#include <memory>

#include "config/settings_backend.h"

class QSettings;

class qsettings_backend : public settings_backend {
public:
    // The per-user store of the given program name.
    explicit qsettings_backend(const QString& program_name = QStringLiteral("qtelnet"));
    // One explicit INI file holding both the configurations and `dir` (tools, tests).
    static std::unique_ptr<qsettings_backend> from_file(const QString& path);
    ~qsettings_backend() override;

    int read_int(std::string_view section, std::string_view key, int def) override;
    std::string read_text(std::string_view section, std::string_view key, std::string_view def) override;
    void write_int(std::string_view section, std::string_view key, int value) override;
    void write_text(std::string_view section, std::string_view key, std::string_view value) override;
    bool remove_section(std::string_view section) override;
    std::optional<std::string> read_program_dir() override;
    void write_program_dir(std::string_view dir) override;
    void flush() override;

    // Where the configurations are stored.
    QString file_name() const;

private:
    qsettings_backend(std::unique_ptr<QSettings> values, std::unique_ptr<QSettings> machine);

    std::unique_ptr<QSettings> values_;
    std::unique_ptr<QSettings> machine_;  // null: `dir` lives in values_
};
