#pragma once
// The session debug log: labelled hex dumps and text lines of SSH traffic. It may hold passwords, so the file is
// created readable by its owner only.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "session/interfaces.h"

// Appends one hex dump to out: "<label> -- HH:MM:SS.<ms>\n", lines of 16 bytes as "%2.2x " with the characters
// (below 32 shown as '.'), a padded last line, then an empty line.
void format_hex_dump(std::string& out, std::string_view label, const local_time& t, const std::uint8_t* bytes,
                     std::size_t n);

// Opens path for writing (O_WRONLY plus flags) where the user's data goes: no link is followed, and nothing but a
// regular file is opened or kept. -1 on failure, error then holding errno or one of the not_regular_ values below
// (what stands at the path instead).
inline constexpr int not_regular_file = -1;  // none of the kinds that follow
inline constexpr int not_regular_fifo = -2;
inline constexpr int not_regular_folder = -3;
inline constexpr int not_regular_device = -4;
inline constexpr int not_regular_socket = -5;
int open_regular_for_writing(const std::string& path, int flags, unsigned mode, int& error);
// Why open_regular_for_writing failed, for the user.
std::string open_failure_text(int error);

// $XDG_STATE_HOME/qtelnet/vtlog, else ~/.local/state/qtelnet/vtlog (the account's home folder when HOME is unset);
// empty when no home folder is known.
std::string default_debug_log_path();

class debug_log {
public:
    explicit debug_log(std::string path = default_debug_log_path()) : path_(std::move(path)) {}
    ~debug_log() { close(); }
    debug_log(const debug_log&) = delete;
    debug_log& operator=(const debug_log&) = delete;

    const std::string& path() const { return path_; }
    void set_path(std::string path) {
        close();
        path_ = std::move(path);
    }
    // Creates the file anew (mode 0600, folders made as needed). False when it cannot be created: a link or
    // anything but a regular file at the path is refused. error_text() then says why.
    bool open_truncated();
    std::string error_text() const;
    void close();
    bool is_open() const { return file_ != nullptr; }

    void write_hex(std::string_view label, const local_time& t, const std::uint8_t* bytes, std::size_t n);
    void write_line(std::string_view text);

private:
    std::string path_;
    std::FILE* file_ = nullptr;
    std::string scratch_;
    int error_ = 0;
};
