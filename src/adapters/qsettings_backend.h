#pragma once
// The settings backend on QSettings INI files.
//   Configurations: $XDG_CONFIG_HOME/QuillSoft/<program name>.conf (~/.config when unset), one group per
//   configuration, "Version 1.0/<configuration name>", one key per setting; integers stored as plain numbers.
//   Program directory `dir`: $XDG_CONFIG_HOME/QuillSoft/telnet.conf, key "dir" (per user; when the user has none,
//   QSettings falls back to the machine-wide /etc/xdg/QuillSoft/telnet.conf an administrator may provide).
// File names are case-sensitive here: every part of the program (client, installer, uninstaller) uses "qtelnet".
// A path that is not a regular file (a FIFO, a device, a link to one, a folder) is never opened: the defaults apply
// and load_problem says why. Files and the folder are created owner-only; a failed save is told by save_problem.
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
    std::vector<std::string> sections() override;
    bool copy_section(std::string_view from, std::string_view to) override;
    std::optional<std::string> read_program_dir() override;
    void write_program_dir(std::string_view dir) override;
    void flush() override;
    void remove_key(std::string_view section, std::string_view key) override;
    std::string load_problem() const override { return load_problem_; }
    std::string save_problem() const override { return save_problem_; }

    // Where the configurations are stored.
    QString file_name() const;

private:
    qsettings_backend(const QString& path, bool);
    static std::string refusal_text(const QString& path, const QString& why);
    bool writable();
    // telnet.conf exists but is no regular file (from_file has no machine path).
    bool machine_refused() const { return !machine_ && !machine_path_.isEmpty(); }

    QString path_;
    QString machine_path_;
    std::unique_ptr<QSettings> values_;   // null: the file was refused at start
    std::unique_ptr<QSettings> machine_;  // null: `dir` lives in values_ (or telnet.conf was refused)
    bool write_checked_ = false;
    QString write_refusal_;
    std::string load_problem_;
    std::string save_problem_;
};
