#pragma once
// Secrets kept outside the settings file: the remembered SSH password lives in the desktop's secret store, and a
// settings backend wrapped in secret_routing_backend never sees it. The store itself is an adapter
// (adapters/keychain_secret_store.h); tests use an in-memory one.
#include <string>
#include <string_view>

#include "config/settings_backend.h"

struct secret_store {
    enum class result { found, not_found, unavailable };
    virtual ~secret_store() = default;
    virtual result read(std::string_view key, std::string& value) = 0;
    // False when no secret store answered.
    virtual bool write(std::string_view key, std::string_view value) = 0;
    virtual bool remove(std::string_view key) = 0;
};

// Settings keys whose values go to the secret store, keyed by the configuration section.
inline constexpr std::string_view secret_setting_key = "ssh_password";

inline constexpr std::string_view no_secret_store_notice =
    "No secret store (such as the desktop keyring) answered, so the SSH password is not remembered: it will be "
    "asked for at each connection.";

// Passes everything to base except the secret keys. A password still found in the settings file is moved to the
// secret store and removed from the file. Without a secret store the password is neither read nor written (and
// removed from the file at the next save); the user is told once, through load_problem or save_problem.
class secret_routing_backend : public settings_backend {
public:
    secret_routing_backend(settings_backend& base, secret_store& secrets) : base_(base), secrets_(secrets) {}

    int read_int(std::string_view section, std::string_view key, int def) override {
        return base_.read_int(section, key, def);
    }
    std::string read_text(std::string_view section, std::string_view key, std::string_view def) override;
    void write_int(std::string_view section, std::string_view key, int value) override {
        base_.write_int(section, key, value);
    }
    void write_text(std::string_view section, std::string_view key, std::string_view value) override;
    bool remove_section(std::string_view section) override;
    std::vector<std::string> sections() override { return base_.sections(); }
    // The remembered password goes along with the section's keys.
    bool copy_section(std::string_view from, std::string_view to) override;
    std::optional<std::string> read_program_dir() override { return base_.read_program_dir(); }
    void write_program_dir(std::string_view dir) override { base_.write_program_dir(dir); }
    void flush() override { base_.flush(); }
    void remove_key(std::string_view section, std::string_view key) override { base_.remove_key(section, key); }
    std::string load_problem() const override { return with_notice(base_.load_problem()); }
    std::string save_problem() const override { return with_notice(base_.save_problem()); }

private:
    std::string with_notice(std::string problem) const;

    settings_backend& base_;
    secret_store& secrets_;
    bool unavailable_ = false;
    mutable bool told_ = false;
};
