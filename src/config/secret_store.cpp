#include "config/secret_store.h"

std::string secret_routing_backend::read_text(std::string_view section, std::string_view key, std::string_view def) {
    if (key != secret_setting_key) return base_.read_text(section, key, def);
    const std::string plain = base_.read_text(section, key, "");
    if (!plain.empty()) {
        // Left by an earlier version in plain text: moved out of the file as soon as the store takes it.
        if (secrets_.write(section, plain)) {
            base_.remove_key(section, key);
            base_.flush();
            return plain;
        }
        unavailable_ = true;
        return std::string(def);
    }
    // An unavailable store reads as "nothing remembered", so nothing is lost: the user hears of it only when a
    // password is to be kept.
    std::string value;
    if (secrets_.read(section, value) == secret_store::result::found) return value;
    return std::string(def);
}

void secret_routing_backend::write_text(std::string_view section, std::string_view key, std::string_view value) {
    if (key != secret_setting_key) {
        base_.write_text(section, key, value);
        return;
    }
    base_.remove_key(section, key);
    if (value.empty()) {
        secrets_.remove(section);
        return;
    }
    if (!secrets_.write(section, value)) unavailable_ = true;
}

bool secret_routing_backend::remove_section(std::string_view section) {
    secrets_.remove(section);
    return base_.remove_section(section);
}

bool secret_routing_backend::copy_section(std::string_view from, std::string_view to) {
    const bool copied = base_.copy_section(from, to);
    std::string value;
    if (secrets_.read(from, value) == secret_store::result::found && !secrets_.write(to, value)) unavailable_ = true;
    return copied;
}

std::string secret_routing_backend::with_notice(std::string problem) const {
    if (!unavailable_ || told_) return problem;
    told_ = true;
    if (!problem.empty()) problem += "\n\n";
    problem += no_secret_store_notice;
    return problem;
}
