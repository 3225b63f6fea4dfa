// The remembered SSH password through secret_routing_backend: kept out of the settings file, moved out of it when
// an earlier version left it there, and not remembered (with one notice) when no secret store answers.
#include <gtest/gtest.h>

#include <map>

#include "config/memory_backend.h"
#include "config/secret_store.h"
#include "config/settings.h"
#include "fakes.h"

namespace {

struct memory_secrets : secret_store {
    bool available = true;
    int reads = 0;
    std::map<std::string, std::string> values;
    result read(std::string_view key, std::string& value) override {
        ++reads;
        if (!available) return result::unavailable;
        auto it = values.find(std::string(key));
        if (it == values.end()) return result::not_found;
        value = it->second;
        return result::found;
    }
    bool write(std::string_view key, std::string_view value) override {
        if (available) values[std::string(key)] = std::string(value);
        return available;
    }
    bool remove(std::string_view key) override {
        if (available) values.erase(std::string(key));
        return available;
    }
};

class SecretSettings : public ::testing::Test {
protected:
    const std::string sec = "Version 1.0/1";
    memory_backend file;
    memory_secrets secrets;
    secret_routing_backend store{file, secrets};
    recording_ui ui;
    scratch_dir cwd;
    StartupValues sv;

    void SetUp() override {
        sv.save_switch = "0";
        file.write_int(sec, "color_bg", 0);  // not a first start
        file.write_int(sec, "ssh_default", 1);
        file.write_text(sec, "ssh_user", "alice");
    }
    Settings load() {
        Settings s;
        load_options opt;
        opt.current_dir = cwd.str();
        load_settings(s, store, sv, ui, nullptr, opt);
        return s;
    }
};

TEST_F(SecretSettings, APlainTextPasswordIsMovedToTheSecretStore) {
    file.write_text(sec, "ssh_password", "hunter2");
    Settings s = load();
    EXPECT_EQ(s.ssh_password, "hunter2");
    EXPECT_EQ(s.ssh_user, "alice");
    EXPECT_FALSE(file.has(sec, "ssh_password")) << "removed from the file at once";
    EXPECT_EQ(secrets.values[sec], "hunter2");
    EXPECT_EQ(store.load_problem(), "");

    s.ssh_password = "changed";
    save_settings(s, store, sv, nullptr);
    EXPECT_FALSE(file.has(sec, "ssh_password"));
    EXPECT_EQ(secrets.values[sec], "changed");
    EXPECT_EQ(load().ssh_password, "changed");

    s.ssh_default = 0;  // not remembered any more: the secret goes too
    save_settings(s, store, sv, nullptr);
    EXPECT_FALSE(secrets.values.count(sec));
    EXPECT_EQ(store.save_problem(), "");
    secrets.values[sec] = "pw";
    EXPECT_TRUE(store.remove_section(sec));  // a configuration removed by the uninstaller
    EXPECT_FALSE(secrets.values.count(sec));
}

// A session copied under a new name keeps its remembered password; the old name's goes with its section.
TEST_F(SecretSettings, ACopiedSectionTakesItsPasswordAlong) {
    secrets.values[sec] = "pw";
    const std::string copy = "Version 1.0/copy";
    EXPECT_TRUE(store.copy_section(sec, copy));
    EXPECT_EQ(file.read_text(copy, "ssh_user", ""), "alice");
    EXPECT_EQ(secrets.values[copy], "pw");
    EXPECT_FALSE(file.has(copy, "ssh_password"));
    EXPECT_EQ(store.save_problem(), "");
    secrets.available = false;
    EXPECT_TRUE(store.copy_section(sec, "Version 1.0/other"));
    EXPECT_EQ(store.save_problem(), "");  // nothing remembered could be read, so nothing was lost
}

TEST_F(SecretSettings, WithoutASecretStoreThePasswordIsNotRememberedAndTheUserIsToldOnce) {
    secrets.available = false;
    file.write_text(sec, "ssh_password", "hunter2");
    Settings s = load();
    EXPECT_EQ(s.ssh_password, "");
    EXPECT_EQ(store.load_problem(), no_secret_store_notice);
    EXPECT_EQ(store.load_problem(), "") << "told once";

    s.ssh_password = "typed";
    save_settings(s, store, sv, nullptr);
    EXPECT_FALSE(file.has(sec, "ssh_password")) << "never written in plain text";
    EXPECT_EQ(store.save_problem(), "");
}

TEST_F(SecretSettings, WithoutASecretStoreNothingIsSaidUntilAPasswordWouldBeKept) {
    secrets.available = false;
    Settings s = load();
    EXPECT_EQ(store.load_problem(), "") << "no message at every start of a fresh configuration";
    save_settings(s, store, sv, nullptr);
    EXPECT_EQ(store.save_problem(), "") << "no password to keep";
    s.ssh_default = 1;
    s.ssh_password = "typed";
    save_settings(s, store, sv, nullptr);
    EXPECT_EQ(store.save_problem(), no_secret_store_notice);
    EXPECT_FALSE(file.has(sec, "ssh_password"));
}

// The desktop's keyring is woken (and its libraries loaded) by any question: a start without remembered
// credentials must not ask it, not even about a secret an interrupted run left behind.
TEST_F(SecretSettings, APasswordNotRememberedIsNotLookedForAtStart) {
    file.write_int(sec, "ssh_default", 0);
    secrets.values[sec] = "left over";
    Settings s = load();
    EXPECT_EQ(secrets.reads, 0);
    EXPECT_EQ(s.ssh_password, "");

    file.write_int(sec, "ssh_default", 1);
    s = load();
    EXPECT_EQ(secrets.reads, 1);
    EXPECT_EQ(s.ssh_password, "left over");
}

}  // namespace
