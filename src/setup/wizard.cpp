#include "setup/wizard.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "config/settings_backend.h"

namespace fs = std::filesystem;

namespace {

const char* const readme_hint = " See readme.txt file for manual installation";

std::string file_failed(const std::string& name, bool maybe_running) {
    std::string m = "Installation has failed. (file " + name + ").";
    if (maybe_running) m += " Maybe telnet is already running.";
    return m + readme_hint;
}

// Runs the welcome, agreement and start pages, with Back going one page back. False: cancelled.
bool run_pages(setup_pages& pages, const std::optional<std::string>& licence, install_choices& choices) {
    enum { welcome, agreement, start } page = welcome;
    for (;;) {
        page_result r;
        switch (page) {
        case welcome:
            r = pages.welcome();
            if (r == page_result::cancel) return false;
            if (r == page_result::next) page = licence ? agreement : start;
            break;
        case agreement:
            r = pages.agreement(*licence);
            if (r == page_result::cancel) return false;
            page = r == page_result::next ? start : welcome;
            break;
        case start:
            r = pages.start(choices);
            if (r == page_result::cancel) return false;
            if (r == page_result::next) return true;
            page = licence ? agreement : welcome;
            break;
        }
    }
}

// Shortcuts into one folder; each created file is added to the record, which is then (re)written.
void create_shortcuts(const fs::path& folder, const fs::path& destination, const fs::path& config_txt,
                      const setup_locations& where, uninstall_record& record, setup_pages& pages) {
    std::error_code ec;
    if (folder.empty()) {
        // Never the current folder by accident.
        pages.warning("No folder for the program icons. Use the file manager to define shortcut!");
        write_uninstall_record(where.record, record);
        return;
    }
    fs::create_directories(folder, ec);
    for (const shortcut& s : shortcuts_from_config(config_txt)) {
        const fs::path file = folder / desktop_file_name(s.description);
        if (!write_text_file(file, desktop_entry_text(s, destination / "qtelnet", destination), true)) {
            pages.warning("Cannot save shortcut " + file.string() + ". Use the file manager to define shortcut!");
            continue;
        }
        bool known = false;
        for (const auto& k : record.shortcuts) known = known || k == file.string();
        if (!known) record.shortcuts.push_back(file.string());
    }
    // Registry failures are silent; so is a record that cannot be written.
    write_uninstall_record(where.record, record);
}

bool remove_file(const fs::path& p, int& error_code) {
    if (::unlink(p.c_str()) == 0) return true;
    error_code = errno;
    return false;
}

}  // namespace

fs::path user_path(const std::string& text) {
    if (text.empty()) return {};
    fs::path p = text;
    if (text == "~")
        p = home_folder();
    else if (text.compare(0, 2, "~/") == 0)
        p = home_folder() / text.substr(2);
    std::error_code ec;
    fs::path abs = fs::absolute(p, ec);
    return ec ? p : abs.lexically_normal();
}

const std::vector<install_item>& install_list() {
    static const std::vector<install_item> list = {
        {"README.TXT", "README.TXT", overwrite_mode::plain, false},
        {"help/qtelnet.html", "help/qtelnet.html", overwrite_mode::plain, true},
        {"config.txt", "config.txt", overwrite_mode::plain, false},
        {"keys.map", "keys.map", overwrite_mode::ask, true},
        {"pctonet.map", "pctonet.map", overwrite_mode::ask, true},
        {"nettopc.map", "nettopc.map", overwrite_mode::ask, true},
        {"LICENSE.TXT", "LICENSE.TXT", overwrite_mode::plain, false},
    };
    return list;
}

const std::vector<install_item>& uninstall_list() {
    static const std::vector<install_item> list = {
        {"", "config.txt", overwrite_mode::plain, true},        {"", "config.old", overwrite_mode::plain, true},
        {"", "README.TXT", overwrite_mode::plain, false},       {"", "qtelnet", overwrite_mode::plain, false},
        {"", "help/qtelnet.html", overwrite_mode::plain, true}, {"", "keys.map", overwrite_mode::plain, true},
        {"", "pctonet.map", overwrite_mode::plain, true},       {"", "nettopc.map", overwrite_mode::plain, true},
        {"", "LICENSE.TXT", overwrite_mode::plain, false},
    };
    return list;
}

std::string trim_folder_dots(const std::string& folder) {
    for (size_t i = 0; i < folder.size(); ++i)
        if (folder[i] == '.' && (i + 1 == folder.size() || folder[i + 1] == '.')) return folder.substr(0, i);
    return folder;
}

std::optional<std::string> read_licence(const fs::path& source_dir) {
    auto text = read_regular_file(source_dir / "LICENSE.TXT", licence_read_limit);
    if (!text) text = read_regular_file(source_dir / "license.txt", licence_read_limit);
    if (!text) return text;
    if (text->compare(0, 3, "\xEF\xBB\xBF") == 0) text->erase(0, 3);
    // A UTF-8 character cut by the read limit would show as a replacement character: drop its bytes.
    size_t lead = text->size();
    while (lead > 0 && lead + 4 > text->size() && (static_cast<unsigned char>((*text)[lead - 1]) & 0xC0) == 0x80)
        --lead;
    if (lead > 0) {
        const auto c = static_cast<unsigned char>((*text)[lead - 1]);
        const size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (c >= 0xC0 && text->size() - (lead - 1) < need) text->resize(lead - 1);
    }
    return text;
}

setup_outcome run_install(const setup_locations& where, bool silent, setup_pages& pages, setup_shell& shell) {
    install_choices choices;
    choices.destination = where.destination.string();
    choices.program_folder = where.program_folder.string();

    const auto licence = read_licence(where.source_dir);
    if (!silent && !run_pages(pages, licence, choices)) return setup_outcome::cancelled;

    const fs::path dest = user_path(choices.destination);
    std::error_code ec;
    if (!dest.empty()) fs::create_directories(dest, ec);
    if (dest.empty() || !fs::is_directory(dest, ec)) {
        pages.error(std::string("Installation has failed. (mkdir).") + readme_hint);
        return setup_outcome::failed;
    }

    copy_state state;
    state.silent = silent;
    for (const install_item& item : install_list()) {
        const fs::path src = where.source_dir / item.source;
        if (item.optional && !fs::exists(src, ec)) continue;
        const fs::path to = dest / item.dest;
        fs::create_directories(to.parent_path(), ec);
        if (!copy_file(to, src, item.mode, state, pages)) {
            pages.error(file_failed(item.dest, true));
            return setup_outcome::failed;
        }
    }
    const std::string self_name = where.self.filename().string();
    if (!copy_file(dest / "qtelnet", where.self, overwrite_mode::plain, state, pages, true)) {
        pages.error(file_failed(self_name, true));
        return setup_outcome::failed;
    }
    fs::create_directories(where.bin_dir, ec);
    const fs::path uninstaller = where.bin_dir / "qtuninst";
    if (!copy_file(uninstaller, where.self, overwrite_mode::plain, state, pages, true)) {
        pages.error(file_failed(self_name, false));
        return setup_outcome::failed;
    }

    if (!silent)
        pages.completed([&] {
            if (!shell.view_file(dest / "README.TXT")) pages.error("Cannot open " + (dest / "README.TXT").string());
        });

    if (!choices.add_to_desktop) shell.open_folder(dest);

    uninstall_record record;
    record.uninstall_string = uninstaller.string();
    record.install_location = dest.string();
    // Launchers of an earlier install into the same folder stay known, or a renamed one would outlive qtuninst.
    if (auto earlier = read_uninstall_record(where.record); earlier && earlier->install_location == dest.string())
        for (const auto& s : earlier->shortcuts)
            if (fs::exists(s, ec)) record.shortcuts.push_back(s);
    const fs::path config_txt = where.source_dir / "config.txt";
    if (choices.add_to_program_folder)
        create_shortcuts(user_path(trim_folder_dots(choices.program_folder)), dest, config_txt, where, record, pages);
    if (choices.add_to_desktop) create_shortcuts(where.desktop, dest, config_txt, where, record, pages);

    if (!shell.start_program(dest / "qtelnet", dest)) {
        pages.error("Cannot start " + (dest / "qtelnet").string());
        return setup_outcome::failed;
    }
    return setup_outcome::done;
}

setup_outcome run_uninstall(const setup_locations& where, setup_pages& pages, settings_backend& settings, bool silent) {
    const auto record = read_uninstall_record(where.record);
    std::string home =
        record && !record->install_location.empty() ? record->install_location : where.destination.string();
    if (!silent && !pages.uninstall(home)) return setup_outcome::cancelled;
    // An empty answer would otherwise mean the current folder.
    const fs::path dir = user_path(home);
    if (dir.empty()) return setup_outcome::cancelled;
    bool all_removed = true;
    for (const install_item& item : uninstall_list()) {
        const fs::path p = dir / item.dest;
        int code = 0;
        if (remove_file(p, code)) continue;
        const bool ignored = std::strcmp(item.dest, "config.txt") == 0 || std::strcmp(item.dest, "config.old") == 0;
        if (ignored || (item.optional && code == ENOENT)) continue;
        all_removed = false;
        pages.error("Cannot remove file " + p.string() + " Error Code " + std::to_string(code));
    }

    std::error_code ec;
    fs::remove(where.program_folder / desktop_file_name("QuillSoft Telnet"), ec);
    // The record is a user-writable file: it may only make us remove launchers and our own uninstaller.
    if (record)
        for (const auto& s : record->shortcuts)
            if (fs::path(s).extension() == ".desktop") fs::remove(s, ec);

    // Only empty folders go: anything the user put there stays.
    fs::remove(dir / "help", ec);
    fs::remove(dir, ec);
    fs::remove(where.bin_dir / "qtuninst", ec);
    if (record && fs::path(record->uninstall_string).filename() == "qtuninst") fs::remove(record->uninstall_string, ec);

    fs::remove(where.record, ec);
    fs::remove(where.record.parent_path(), ec);
    fs::remove(where.record.parent_path().parent_path(), ec);
    for (char c = '1'; c <= '9'; ++c) settings.remove_section(config_section(std::string(1, c)));

    if (!silent) pages.farewell();
    return all_removed ? setup_outcome::done : setup_outcome::failed;
}
