#include "sftp/protocol.h"

#include <cstdio>
#include <cstring>

namespace sftp {

std::optional<std::uint8_t> reader::u8() {
    if (!ok_ || n_ < 1) return fail();
    --n_;
    return *p_++;
}

std::optional<std::uint32_t> reader::u32() {
    if (!ok_ || n_ < 4) return fail();
    const std::uint32_t v = std::uint32_t(p_[0]) << 24 | std::uint32_t(p_[1]) << 16 | std::uint32_t(p_[2]) << 8 | p_[3];
    p_ += 4;
    n_ -= 4;
    return v;
}

std::optional<std::uint64_t> reader::u64() {
    const auto hi = u32();
    const auto lo = u32();
    if (!hi || !lo) return fail();
    return std::uint64_t(*hi) << 32 | *lo;
}

std::optional<std::string_view> reader::string(std::size_t max) {
    const auto len = u32();
    if (!len || *len > n_ || *len > max) return fail();
    const std::string_view s(reinterpret_cast<const char*>(p_), *len);
    p_ += *len;
    n_ -= *len;
    return s;
}

std::optional<attrs> reader::attributes() {
    attrs a;
    const auto flags = u32();
    if (!flags) return fail();
    a.flags = *flags;
    if (a.flags & SSH_FILEXFER_ATTR_SIZE) a.size = u64().value_or(0);
    if (a.flags & SSH_FILEXFER_ATTR_UIDGID) {
        a.uid = u32().value_or(0);
        a.gid = u32().value_or(0);
    }
    if (a.flags & SSH_FILEXFER_ATTR_PERMISSIONS) a.permissions = u32().value_or(0);
    if (a.flags & SSH_FILEXFER_ATTR_ACMODTIME) {
        a.atime = u32().value_or(0);
        a.mtime = u32().value_or(0);
    }
    if (a.flags & SSH_FILEXFER_ATTR_EXTENDED) {
        const auto count = u32();
        // Each pair takes at least 8 bytes: a count beyond that is a lie, refused before looping.
        if (!count || *count > n_ / 8) return fail();
        for (std::uint32_t i = 0; i < *count && ok_; ++i) {
            string();
            string();
        }
    }
    if (!ok_) return fail();
    return a;
}

request::request(std::uint8_t type, std::uint32_t id) {
    b_.reserve(64);
    b_.resize(4);
    u8(type);
    u32(id);
}

request request::init() {
    request r;
    r.b_.resize(4);
    r.u8(SSH_FXP_INIT);
    r.u32(protocol_version);
    return r;
}

request& request::u8(std::uint8_t v) {
    b_.push_back(v);
    return *this;
}

request& request::u32(std::uint32_t v) {
    const std::uint8_t b[4] = {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
    b_.insert(b_.end(), b, b + 4);
    return *this;
}

request& request::u64(std::uint64_t v) { return u32(std::uint32_t(v >> 32)).u32(std::uint32_t(v)); }

request& request::string(std::string_view s) {
    u32(static_cast<std::uint32_t>(s.size()));
    b_.insert(b_.end(), s.begin(), s.end());
    return *this;
}

request& request::string(std::span<const std::uint8_t> s) {
    return string(std::string_view(reinterpret_cast<const char*>(s.data()), s.size()));
}

request& request::attributes(const attrs& a) {
    const std::uint32_t f = a.flags & ~SSH_FILEXFER_ATTR_EXTENDED;
    u32(f);
    if (f & SSH_FILEXFER_ATTR_SIZE) u64(a.size);
    if (f & SSH_FILEXFER_ATTR_UIDGID) u32(a.uid).u32(a.gid);
    if (f & SSH_FILEXFER_ATTR_PERMISSIONS) u32(a.permissions);
    if (f & SSH_FILEXFER_ATTR_ACMODTIME) u32(a.atime).u32(a.mtime);
    return *this;
}

std::vector<std::uint8_t>& request::finish() {
    const std::uint32_t n = static_cast<std::uint32_t>(b_.size() - 4);
    b_[0] = std::uint8_t(n >> 24);
    b_[1] = std::uint8_t(n >> 16);
    b_[2] = std::uint8_t(n >> 8);
    b_[3] = std::uint8_t(n);
    return b_;
}

bool reassembler::feed(std::span<const std::uint8_t> bytes) {
    if (!error_.empty()) return false;
    // What was handed out by next() is dropped only now, so its span stays valid until this call.
    if (at_ > 0 && (at_ == buf_.size() || at_ >= 64 * 1024)) {
        buf_.erase(buf_.begin(), buf_.begin() + std::ptrdiff_t(at_));
        at_ = 0;
    }
    buf_.insert(buf_.end(), bytes.begin(), bytes.end());
    if (buf_.size() - at_ >= 4) {
        const std::uint8_t* p = buf_.data() + at_;
        const std::uint32_t len =
            std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
        if (len > max_packet) {
            error_ = "the SFTP server sent a packet of " + std::to_string(len) + " bytes, more than the " +
                     std::to_string(max_packet) + " this client takes";
            return false;
        }
    }
    return true;
}

std::optional<std::span<const std::uint8_t>> reassembler::next() {
    if (!error_.empty() || buf_.size() - at_ < 4) return std::nullopt;
    const std::uint8_t* p = buf_.data() + at_;
    const std::uint32_t len = std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
    if (len > max_packet) {
        error_ = "the SFTP server sent a packet of " + std::to_string(len) + " bytes, more than the " +
                 std::to_string(max_packet) + " this client takes";
        return std::nullopt;
    }
    if (len == 0) {
        error_ = "the SFTP server sent an empty packet";
        return std::nullopt;
    }
    if (buf_.size() - at_ - 4 < len) return std::nullopt;
    at_ += 4 + len;
    return std::span<const std::uint8_t>(p + 4, len);
}

namespace {
std::string_view type_name(std::uint8_t t) {
    switch (t) {
    case SSH_FXP_STATUS: return "STATUS";
    case SSH_FXP_HANDLE: return "HANDLE";
    case SSH_FXP_DATA: return "DATA";
    case SSH_FXP_NAME: return "NAME";
    case SSH_FXP_ATTRS: return "ATTRS";
    case SSH_FXP_EXTENDED_REPLY: return "EXTENDED_REPLY";
    case SSH_FXP_VERSION: return "VERSION";
    default: return "unknown";
    }
}
}  // namespace

std::optional<reply> read_reply(std::span<const std::uint8_t> packet, std::string* error, std::size_t max_names) {
    auto bad = [&](std::string_view why) -> std::optional<reply> {
        if (error) {
            const std::uint8_t t = packet.empty() ? 0 : packet[0];
            *error = "malformed SFTP reply (type " + std::to_string(t) + ", " + std::string(type_name(t)) +
                     "): " + std::string(why);
        }
        return std::nullopt;
    };
    reader r(packet);
    reply out;
    const auto type = r.u8();
    const auto id = r.u32();
    if (!type || !id) return bad("shorter than its id");
    out.type = *type;
    out.id = *id;
    switch (out.type) {
    case SSH_FXP_STATUS: {
        const auto code = r.u32();
        if (!code) return bad("no status code");
        out.code = *code;
        // Version 3 servers may leave out the message and language tag.
        if (r.remaining() > 0) {
            const auto m = r.string(64 * 1024);
            const auto lang = r.string(256);
            if (!m || !lang) return bad("a message or language tag longer than the packet");
            out.message = *m;
        }
        break;
    }
    case SSH_FXP_HANDLE: {
        const auto h = r.string(256);
        if (!h) return bad("a handle longer than 256 bytes or than the packet");
        out.bytes = {reinterpret_cast<const std::uint8_t*>(h->data()), h->size()};
        break;
    }
    case SSH_FXP_DATA: {
        const auto d = r.string();
        if (!d) return bad("data longer than the packet");
        out.bytes = {reinterpret_cast<const std::uint8_t*>(d->data()), d->size()};
        break;
    }
    case SSH_FXP_NAME: {
        const auto count = r.u32();
        if (!count) return bad("no count");
        // An entry takes at least 12 bytes (two empty strings and the flags).
        if (*count > r.remaining() / 12) return bad("more names than the packet holds");
        if (*count > max_names) return bad("more names in one reply than this client takes");
        out.names.reserve(*count);
        for (std::uint32_t i = 0; i < *count; ++i) {
            name_entry e;
            const auto n = r.string(max_name);
            const auto l = r.string(max_name);
            const auto a = r.attributes();
            if (!n || !l || !a) return bad("a name, long name or attributes longer than the packet or too long");
            e.name = *n;
            e.longname = *l;
            e.a = *a;
            out.names.push_back(e);
        }
        break;
    }
    case SSH_FXP_ATTRS: {
        const auto a = r.attributes();
        if (!a) return bad("attributes longer than the packet");
        out.a = *a;
        break;
    }
    case SSH_FXP_EXTENDED_REPLY: {
        const std::size_t k = r.remaining();
        out.bytes = packet.subspan(packet.size() - k);
        return out;
    }
    default: return bad("not a reply type");
    }
    if (r.remaining() != 0) return bad(std::to_string(r.remaining()) + " bytes after its last field");
    return out;
}

std::optional<version_info> read_version(std::span<const std::uint8_t> packet) {
    reader r(packet);
    const auto type = r.u8();
    const auto v = r.u32();
    if (!type || *type != SSH_FXP_VERSION || !v) return std::nullopt;
    version_info out;
    out.version = *v;
    while (r.remaining() > 0) {
        const auto name = r.string(256);
        const auto data = r.string(4096);
        if (!name || !data || out.extensions.size() >= 64) return std::nullopt;
        out.extensions.emplace_back(std::string(*name), std::string(*data));
    }
    return out;
}

std::string_view status_text(std::uint32_t code) {
    switch (code) {
    case SSH_FX_OK: return "done";
    case SSH_FX_EOF: return "end of file";
    case SSH_FX_NO_SUCH_FILE: return "no such file";
    case SSH_FX_PERMISSION_DENIED: return "permission denied";
    case SSH_FX_FAILURE: return "failure";
    case SSH_FX_BAD_MESSAGE: return "bad message";
    case SSH_FX_NO_CONNECTION: return "no connection";
    case SSH_FX_CONNECTION_LOST: return "connection lost";
    case SSH_FX_OP_UNSUPPORTED: return "operation not supported";
    default: return "unknown error";
    }
}

namespace {
// Length of the UTF-8 sequence at s[i], 0 when it is not a valid one.
std::size_t utf8_length(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) return 1;
    if ((c & 0xE0) == 0xC0)
        n = 2, cp = c & 0x1F;
    else if ((c & 0xF0) == 0xE0)
        n = 3, cp = c & 0x0F;
    else if ((c & 0xF8) == 0xF0)
        n = 4, cp = c & 0x07;
    else
        return 0;
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (b & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not text.
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    // C1 controls are as dangerous on a terminal as C0 ones.
    if (cp >= 0x80 && cp < 0xA0) return 0;
    return n;
}
}  // namespace

std::string visible_name(std::string_view raw) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size();) {
        const auto c = static_cast<unsigned char>(raw[i]);
        const std::size_t n = utf8_length(raw, i);
        if (c == '\\') {
            out += "\\\\";
            ++i;
        } else if (n == 0 || c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
            ++i;
        } else {
            out.append(raw.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string safe_local_name(std::string_view raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size();) {
        const auto c = static_cast<unsigned char>(raw[i]);
        const std::size_t n = utf8_length(raw, i);
        if (n == 0 || c < 0x20 || c == 0x7F || c == '/' || c == '\\') {
            out += '_';
            ++i;
        } else {
            out.append(raw.substr(i, n));
            i += n;
        }
    }
    if (out.empty() || out == "." || out == "..") out.insert(out.begin(), '_');
    // Cut at a character's start so that no half sequence is left.
    if (out.size() > 255) {
        std::size_t cut = 255;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
    }
    return out;
}

std::string_view remote_basename(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string join_path(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (!out.empty() && !out.ends_with('/')) out += '/';
    return out.append(name);
}

std::string partial_name(std::string_view local) {
    constexpr std::size_t name_max = 255;
    constexpr std::string_view part = ".part";
    const auto slash = local.rfind('/');
    const std::size_t at = slash == std::string_view::npos ? 0 : slash + 1;
    const std::string_view base = local.substr(at);
    if (base.size() + part.size() <= name_max) return std::string(local) + std::string(part);
    std::uint32_t h = 2166136261u;  // FNV-1a
    for (const char c : base) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    char tag[16];
    std::snprintf(tag, sizeof tag, "~%08x", static_cast<unsigned>(h));
    std::size_t cut = name_max - part.size() - std::strlen(tag);
    while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) --cut;
    return std::string(local.substr(0, at + cut)) + tag + std::string(part);
}

}  // namespace sftp
