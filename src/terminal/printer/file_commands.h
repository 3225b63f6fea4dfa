#pragma once
// The file side of the terminal window without any toolkit: sending a text file to the host as typed input, the
// screen text file used to mail the screen, and the mail file's name.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "terminal/printer/printer_controller.h"

struct ui_services;

namespace printing {

inline constexpr const char* kOutgoingFull = "TCP/IP outgoing buffer is full. Use ftp to transfer large files";
inline constexpr std::size_t kSendBlock = 200;
inline constexpr std::size_t kSendLimit = 10000;

struct send_result {
    bool opened = false;   // the file could be read at all
    std::size_t sent = 0;  // bytes the host side accepted
    bool stopped = false;  // the outgoing-buffer message was shown
};

// Sends the file in blocks of 200 bytes through `send` (which returns how many bytes it took). Stops with the
// outgoing-buffer message when a block is not taken whole, or when more than 10000 bytes have gone and the file
// still has more. A file that cannot be opened ends silently.
send_result send_file(const std::string& path, const std::function<int(const std::uint8_t*, std::size_t)>& send,
                      ui_services& ui);

// The screen as text: each of the 24 rows as the character bytes of its columns and "\n", then one more "\n".
// With utf8 the cells hold code points and each character is written as UTF-8 (a wide one once).
std::string screen_text(const printer_screen& screen, bool utf8 = false);
// Writes screen_text to path (created anew, owner-only; a symbolic link there is refused). False when the file
// cannot be written.
bool write_screen_text(const std::string& path, const printer_screen& screen, bool utf8 = false);

// "<dir>vt220HHMMSS.txt"; a separator is put after dir when it has none.
std::string mail_file_name(std::string_view temp_dir, int hour, int minute, int second);

}  // namespace printing
