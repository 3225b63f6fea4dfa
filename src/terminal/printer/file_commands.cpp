#include "terminal/printer/file_commands.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

#include "config/ui_services.h"

namespace printing {

namespace {
struct file_closer {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
}  // namespace

send_result send_file(const std::string& path, const std::function<int(const std::uint8_t*, std::size_t)>& send,
                      ui_services& ui) {
    send_result result;
    std::unique_ptr<std::FILE, file_closer> f(std::fopen(path.c_str(), "rb"));
    if (!f) return result;
    result.opened = true;
    std::array<std::uint8_t, kSendBlock> block{};
    std::size_t total = 0;
    for (;;) {
        std::size_t n = std::fread(block.data(), 1, block.size(), f.get());
        total += n;
        if (n > 0) {
            int taken = send(block.data(), n);
            if (taken > 0) result.sent += static_cast<std::size_t>(taken);
            if (taken < static_cast<int>(n)) {
                ui.message_box(kOutgoingFull);
                result.stopped = true;
                break;
            }
        }
        if (n < block.size()) break;
        if (total > kSendLimit) {
            // Only complain when something is really left behind.
            int next = std::fgetc(f.get());
            if (next != EOF) {
                ui.message_box(kOutgoingFull);
                result.stopped = true;
            }
            break;
        }
    }
    return result;
}

std::string screen_text(const printer_screen& screen, bool utf8) {
    const int cols = std::clamp(screen.columns(), 1, printer_controller::kMaxColumns);
    std::string out;
    out.reserve(static_cast<std::size_t>(printer_controller::kScreenRows * (cols + 1) + 1));
    for (int r = 1; r <= printer_controller::kScreenRows; ++r) {
        if (utf8)
            append_row_utf8(out, screen, r, cols);
        else
            for (int c = 1; c <= cols; ++c) out.push_back(static_cast<char>(screen.cell(r, c) & 0xFF));
        out.push_back('\n');
    }
    out.push_back('\n');
    return out;
}

bool write_screen_text(const std::string& path, const printer_screen& screen, bool utf8) {
    // The name is predictable: never write through a link someone else planted, and keep the screen private.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::unique_ptr<std::FILE, file_closer> f(::fdopen(fd, "wb"));
    if (!f) {
        ::close(fd);
        return false;
    }
    std::string text = screen_text(screen, utf8);
    bool ok = std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
    return std::fclose(f.release()) == 0 && ok;
}

std::string mail_file_name(std::string_view temp_dir, int hour, int minute, int second) {
    std::string name(temp_dir);
    if (name.empty() || name.back() != '/') name.push_back('/');
    char tail[32];
    std::snprintf(tail, sizeof tail, "vt220%2.2d%2.2d%2.2d.txt", hour, minute, second);
    return name + tail;
}

}  // namespace printing
