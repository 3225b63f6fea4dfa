#include "config/text_scan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::FILE* open_regular_file(const std::string& path) {
    // Non-blocking open so that a FIFO is refused instead of waiting for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* f = ::fdopen(fd, "rb");
    if (!f) ::close(fd);
    return f;
}

bool chunk_reader::next(std::string& chunk) {
    chunk.clear();
    char buf[max_chunk + 1];
    if (!std::fgets(buf, sizeof buf, f_)) return false;
    // fgets stops at a newline or after 79 characters; embedded zero bytes end the chunk early, as a C string.
    chunk.assign(buf);
    return true;
}

bool chunk_splitter::next(std::string_view& chunk) {
    if (text_.empty()) return false;
    std::size_t n = 0;
    while (n < text_.size() && n < chunk_reader::max_chunk) {
        if (text_[n++] == '\n') break;
    }
    chunk = text_.substr(0, n);
    text_.remove_prefix(n);
    return true;
}

namespace {
constexpr long long saturate = 1LL << 40;

int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}
}  // namespace

bool scan_c_integer(std::string_view text, std::size_t& pos, long long& value) {
    std::size_t p = pos;
    while (p < text.size() && is_space(text[p])) ++p;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
    int base = 10;
    if (p < text.size() && text[p] == '0') {
        if (p + 2 < text.size() && (text[p + 1] == 'x' || text[p + 1] == 'X') && digit_value(text[p + 2]) < 16) {
            base = 16;
            p += 2;
        } else {
            base = 8;
        }
    }
    std::size_t start = p;
    long long v = 0;
    while (p < text.size() && digit_value(text[p]) < base) {
        v = v * base + digit_value(text[p]);
        if (v > saturate) v = saturate;
        ++p;
    }
    if (p == start) return false;
    value = negative ? -v : v;
    pos = p;
    return true;
}

bool parse_decimal_all(std::string_view text, long long& value) {
    std::size_t p = 0;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
    if (p == text.size()) return false;
    long long v = 0;
    for (; p < text.size(); ++p) {
        if (text[p] < '0' || text[p] > '9') return false;
        v = v * 10 + (text[p] - '0');
        if (v > saturate) v = saturate;
    }
    v = negative ? -v : v;
    if (v < -2147483648LL || v > 2147483647LL) return false;
    value = v;
    return true;
}
