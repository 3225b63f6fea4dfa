#pragma once
// Test doubles shared by the config tests: recorded message boxes, a scripted main window, a scratch folder.
#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "config/settings_store.h"
#include "config/ui_services.h"

struct recording_ui : ui_services {
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    bool answer = true;
    void message_box(std::string_view text) override { messages.emplace_back(text); }
    bool ask_yes_no(std::string_view text) override {
        questions.emplace_back(text);
        return answer;
    }
};

struct fake_window : settings_window {
    int sw = 1920, sh = 1080, iw = 32, ih = 32;
    int normal_shows = 0, placements = 0, fits = 0, relayouts = 0;
    window_placement applied;
    window_placement current{0, 1, 10, 20, 810, 620};
    bool collect = false;
    std::array<toolbar_row_setting, toolbar_row_count> live{};

    int screen_width() override { return sw; }
    int screen_height() override { return sh; }
    int icon_width() override { return iw; }
    int icon_height() override { return ih; }
    void apply_placement(const window_placement& p) override {
        applied = p;
        ++placements;
    }
    void show_normal() override { ++normal_shows; }
    void fit_font() override { ++fits; }
    window_placement current_placement() override { return current; }
    void collect_toolbar(std::array<toolbar_row_setting, toolbar_row_count>& rows) override {
        if (collect) rows = live;
    }
    void relayout() override { ++relayouts; }
};

// A fresh folder under the system temp folder, removed at the end.
struct scratch_dir {
    std::filesystem::path path;
    scratch_dir() {
        auto base = std::filesystem::temp_directory_path();
        for (int i = 0;; ++i) {
            path = base / ("cfgtest_" + std::to_string(::getpid()) + "_" + std::to_string(counter()++) + "_" +
                           std::to_string(i));
            if (std::filesystem::create_directory(path)) break;
        }
    }
    ~scratch_dir() {
        std::error_code ec;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path, ec);
    }
    std::string str() const { return path.string(); }
    std::string file(const std::string& name) const { return (path / name).string(); }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(path / name, std::ios::binary) << text;
    }
    bool exists(const std::string& name) const { return std::filesystem::exists(path / name); }
    static int& counter() {
        static int c = 0;
        return c;
    }
};
