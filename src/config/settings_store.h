#pragma once
// Loading, saving and resetting the settings record against a settings backend.
#include <array>
#include <string>
#include <vector>

#include "config/mycli.h"
#include "config/settings.h"
#include "config/settings_backend.h"
#include "config/ui_services.h"

struct window_placement {
    int flags = -1;
    int showCmd = -1;                        // 1 normal, 2 minimised, 3 maximised
    int x1 = -1, y1 = -1, x2 = -1, y2 = -1;  // normal-position left, top, right, bottom
};

// What the loader and saver need from the main window. Implemented by the main frame.
struct settings_window {
    virtual ~settings_window() = default;
    // Primary screen size and icon size, for pulling a stored left/top edge back onto the screen.
    virtual int screen_width() = 0;
    virtual int screen_height() = 0;
    virtual int icon_width() = 0;
    virtual int icon_height() = 0;
    // Load: apply a stored placement (showCmd already 1 or 3) and show the window; or, with nothing stored,
    // show it in the normal state. Afterwards the loader calls fit_font().
    virtual void apply_placement(const window_placement& p) = 0;
    virtual void show_normal() = 0;
    virtual void fit_font() = 0;
    // Save: the window's current placement and the live toolbar layout (used, pos, text of every row).
    virtual window_placement current_placement() = 0;
    virtual void collect_toolbar(std::array<toolbar_row_setting, toolbar_row_count>& rows) = 0;
    // Reset configuration: recompute the screen layout and repaint.
    virtual void relayout() = 0;
};

struct load_options {
    // Directory that stands for the current directory (config.txt, keys.map, map-file defaults). Empty: the
    // process's current directory.
    std::string current_dir;
    // Whether the directory search may change the process's current directory (the client: yes; tests: no).
    bool change_process_dir = false;
    // Install folders tried after the current and the remembered program directory, in order.
    // Empty: default_install_dirs().
    std::vector<std::string> install_dirs;
};

// The per-user install folder ($XDG_DATA_HOME or ~/.local/share, + /QuillSoft/qtelnet) and the machine-wide one
// (/usr/local/share/QuillSoft/qtelnet).
std::vector<std::string> default_install_dirs();

struct load_report {
    bool first_start = false;
    bool imported = false;       // config.txt was read
    bool rename_failed = false;  // config.txt could not become config.old
    bool files_missing = false;  // keys.map found nowhere
    std::string current_dir;     // the current directory after the directory search
};

// Fills s from the backend, running the first-start probe, config.txt import and directory search. window may be
// null (tools): placement is then read but not applied.
load_report load_settings(Settings& s, settings_backend& backend, const StartupValues& sv, ui_services& ui,
                          settings_window* window, const load_options& opt = {});

// A command-line launch's host, port, protocol, user and key file for this run (load_settings calls it), with
// today's defaults when it is an SSH launch; save writes the stored values back for each one the user left as the
// launch set it.
void apply_launch(Settings& s, const launch_target& t);

// Writes s into the section of s.config_name (toolbar rows and placement taken from window when given). Nothing
// when saving is disabled.
void save_settings(Settings& s, settings_backend& backend, const StartupValues& sv, settings_window* window);

// The reading and writing that load_settings and save_settings do for one configuration, without the start's
// probe, import and directory search, the launch values or the window. A configuration never saved, whose name
// does not begin with "1", reads as configuration "1" (as at a start). current_dir: where the map files are looked
// for by default; empty: the process's current directory. password: whether a remembered password is looked for.
void read_configuration(Settings& s, settings_backend& backend, const std::string& config_name,
                        const std::string& current_dir, bool password);
void write_configuration(const Settings& s, settings_backend& backend, const std::string& config_name);
// Makes config_name the configuration in use, as `/C config_name` at the start would have: its values are read
// into s and save_settings writes them there.
void switch_configuration(Settings& s, settings_backend& backend, const std::string& config_name,
                          const std::string& current_dir = {});

// Asks, then puts the Reset-column fields back. True when the user agreed. Writes nothing to the backend.
bool reset_configuration(Settings& s, ui_services& ui, settings_window* window);

// Messages.
inline constexpr const char* msg_rename_failed =
    "Cannot rename config.txt file to config.old. Your configuration will be overwritten with the elements from "
    "config.txt on the next program start. Please remove file config.txt to prevent this situation.";
inline constexpr const char* msg_files_missing =
    "Looks as many files are missing. Please re-install quill w32 telnet\n";
inline constexpr const char* msg_reset_question =
    "Do you really want to reset the configuration to installation setup ? ";

// Probe default of color_bg: coming back means the configuration was never saved.
inline constexpr int first_start_probe = 1210469;

// One config.txt read (at most 79 characters) written into section. False when the chunk was skipped.
bool import_config_chunk(std::string_view chunk, settings_backend& backend, const std::string& section);
