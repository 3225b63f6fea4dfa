#pragma once
// The installer and uninstaller sequences. Pages, messages and program launching go through the interfaces below,
// so the whole sequence runs headless in tests.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "setup/locations.h"
#include "setup/setup_files.h"

struct settings_backend;

enum class page_result { next, back, cancel };

struct install_choices {
    std::string destination;
    std::string program_folder;
    bool add_to_program_folder = true;
    bool add_to_desktop = true;
};

// The wizard pages, each modal. Button meanings: next = "Next"/"Yes"/"Install"/"Ok".
struct setup_pages : overwrite_question {
    virtual page_result welcome() = 0;
    virtual page_result agreement(const std::string& licence_text) = 0;
    virtual page_result start(install_choices& choices) = 0;
    // "View README file" calls view_readme; the page stays until "Ok".
    virtual void completed(const std::function<void()>& view_readme) = 0;
    virtual bool uninstall(std::string& home) = 0;  // false: Cancel
    virtual void farewell() = 0;
    virtual void error(const std::string& text) = 0;    // title "Error", stop icon
    virtual void warning(const std::string& text) = 0;  // shortcut trouble; the install goes on
};

// Starting other programs.
struct setup_shell {
    virtual ~setup_shell() = default;
    virtual bool view_file(const std::filesystem::path& file) = 0;      // the desktop's viewer; waits if it can
    virtual bool open_folder(const std::filesystem::path& folder) = 0;  // the file manager
    virtual bool start_program(const std::filesystem::path& program, const std::filesystem::path& working_dir) = 0;
};

struct install_item {
    const char* source;  // relative to the source folder
    const char* dest;    // relative to the destination folder
    overwrite_mode mode;
    bool optional;  // installed when present in the source folder (written by other parts of the project)
};

// Copy order of the data files; the program copies follow.
const std::vector<install_item>& install_list();
// Delete order below the install folder; `optional` entries that are already gone are not reported.
const std::vector<install_item>& uninstall_list();

enum class setup_outcome { done, cancelled, failed };

setup_outcome run_install(const setup_locations& where, bool silent, setup_pages& pages, setup_shell& shell);
// Silent (qtuninst /S, for scripts): no Uninstallation or Farewell page; the recorded installation is removed.
setup_outcome run_uninstall(const setup_locations& where, setup_pages& pages, settings_backend& settings,
                            bool silent = false);

// A folder typed by the user made absolute; "~" stands for the home folder. Empty stays empty.
std::filesystem::path user_path(const std::string& text);

// Cuts a folder text at a "." that is followed by another "." or ends the text.
std::string trim_folder_dots(const std::string& folder);

// The licence text shown on the agreement page: at most 7000 bytes of LICENSE.TXT (license.txt), without a byte
// order mark. nullopt when there is no licence file.
std::optional<std::string> read_licence(const std::filesystem::path& source_dir);

// The Agreement page's text limit.
inline constexpr std::size_t licence_read_limit = 7000;
