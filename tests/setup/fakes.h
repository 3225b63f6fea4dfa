#pragma once
// Scripted pages and a recording shell for driving the wizard headless.
#include <deque>
#include <string>
#include <vector>

#include "setup/wizard.h"

template <class T>
T take(std::deque<T>& q, T fallback) {
    if (q.empty()) return fallback;
    T v = q.front();
    q.pop_front();
    return v;
}

struct scripted_pages : setup_pages {
    std::deque<page_result> welcome_answers, agreement_answers, start_answers;
    std::deque<overwrite_answer> overwrite_answers;  // then "Yes"
    bool icons_program = true, icons_desktop = true, uninstall_ok = true;
    std::string destination_override, uninstall_home_override;

    std::vector<std::string> shown, asked, errors, warnings;  // page titles, overwrite paths, messages
    std::string licence_seen, uninstall_home_seen;

    page_result welcome() override {
        shown.push_back("Welcome");
        return take(welcome_answers, page_result::next);
    }
    page_result agreement(const std::string& text) override {
        shown.push_back("License Agreement");
        licence_seen = text;
        return take(agreement_answers, page_result::next);
    }
    page_result start(install_choices& c) override {
        shown.push_back("Start Installation");
        c.add_to_program_folder = icons_program;
        c.add_to_desktop = icons_desktop;
        if (!destination_override.empty()) c.destination = destination_override;
        return take(start_answers, page_result::next);
    }
    void completed(const std::function<void()>&) override { shown.push_back("Installation Completed"); }
    overwrite_answer ask_overwrite(const std::string& path) override {
        asked.push_back(path);
        return take(overwrite_answers, overwrite_answer::yes);
    }
    bool uninstall(std::string& home) override {
        shown.push_back("Uninstallation");
        uninstall_home_seen = home;
        if (!uninstall_home_override.empty()) home = uninstall_home_override;
        return uninstall_ok;
    }
    void farewell() override { shown.push_back("Farewell"); }
    void error(const std::string& text) override { errors.push_back(text); }
    void warning(const std::string& text) override { warnings.push_back(text); }
};

struct recording_shell : setup_shell {
    std::vector<std::string> viewed, opened, started, started_in;
    bool start_ok = true;
    bool view_file(const std::filesystem::path& f) override {
        viewed.push_back(f.string());
        return true;
    }
    bool open_folder(const std::filesystem::path& f) override {
        opened.push_back(f.string());
        return true;
    }
    bool start_program(const std::filesystem::path& p, const std::filesystem::path& wd) override {
        started.push_back(p.string());
        started_in.push_back(wd.string());
        return start_ok;
    }
};
