#include "ssh/known_hosts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "crypto/evp.h"
#include "crypto/hmac.h"
#include "session/profile.h"
#include "ssh/certificate.h"
#include "ssh/services.h"
#include "ssh/wire.h"

namespace ssh {

namespace {

constexpr char b64_alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// A line of 16 KiB cannot hold more key than this.
constexpr std::size_t max_blob = known_hosts_max_line / 4 * 3 + 3;
constexpr std::size_t read_block = 64 * 1024;

int b64_value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool blank(char c) { return c == ' ' || c == '\t'; }

// Next blank-separated word of `rest`; empty when none is left.
std::string_view next_word(std::string_view& rest) {
    std::size_t i = 0;
    while (i < rest.size() && blank(rest[i])) ++i;
    std::size_t j = i;
    while (j < rest.size() && !blank(rest[j])) ++j;
    const std::string_view w = rest.substr(i, j - i);
    rest.remove_prefix(j);
    return w;
}

// `*` and `?` globbing, case-insensitive on the pattern side (the name is lower case already). Iterative with one
// back-track point, so a pattern of many stars costs no more than name length times pattern length.
bool glob(std::string_view name, std::string_view pat) {
    std::size_t n = 0, p = 0, star = std::string_view::npos, mark = 0;
    while (n < name.size()) {
        if (p < pat.size() && pat[p] == '*') {
            star = p++;
            mark = n;
        } else if (p < pat.size() && (pat[p] == '?' || lower(pat[p]) == name[n])) {
            ++n;
            ++p;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pat.size() && pat[p] == '*') ++p;
    return p == pat.size();
}

bool hashed_matches(std::string_view field, std::string_view name) {
    // |1|salt|hash, both base64 of 20 bytes.
    field.remove_prefix(3);
    const std::size_t bar = field.find('|');
    if (bar == std::string_view::npos) return false;
    std::uint8_t salt[24], hash[24], mac[crypto::sha1_digest_size];
    std::size_t salt_len = 0, hash_len = 0;
    if (!base64_decode(field.substr(0, bar), salt, salt_len) || salt_len != crypto::sha1_digest_size) return false;
    if (!base64_decode(field.substr(bar + 1), hash, hash_len) || hash_len != crypto::sha1_digest_size) return false;
    crypto::hmac_sha1(salt, salt_len, reinterpret_cast<const std::uint8_t*>(name.data()), name.size(), mac);
    return std::memcmp(mac, hash, sizeof mac) == 0;
}

// A comma list matches when some entry matches and no negated entry does.
bool hosts_match(std::string_view field, std::string_view name) {
    if (field.starts_with("|1|")) return hashed_matches(field, name);
    bool hit = false;
    while (!field.empty()) {
        const std::size_t comma = field.find(',');
        std::string_view pat = field.substr(0, comma);
        field = comma == std::string_view::npos ? std::string_view{} : field.substr(comma + 1);
        const bool negated = pat.starts_with('!');
        if (negated) pat.remove_prefix(1);
        if (pat.empty() || !glob(name, pat)) continue;
        if (negated) return false;
        hit = true;
    }
    return hit;
}

// The type a key blob names for itself; empty when the blob does not start with a sane string.
std::string_view blob_type(std::span<const std::uint8_t> blob) {
    wire_reader r(blob);
    const auto t = r.text(64);
    return t ? *t : std::string_view{};
}

// Every public-key blob is a run of SSH strings (mpints included) that fills it exactly; a cut or padded key is a
// broken line, not another key.
bool well_formed(std::span<const std::uint8_t> blob) {
    wire_reader r(blob);
    int fields = 0;
    while (r.remaining() && r.string(blob.size())) ++fields;
    return r.ok() && fields >= 2;
}

enum class marker { none, revoked, cert_authority, unknown };

void fold(host_key_check& into, host_key_status s, std::string_view file, int line) {
    auto rank = [](host_key_status v) {
        switch (v) {
        case host_key_status::revoked: return 3;
        case host_key_status::known: return 2;
        case host_key_status::changed: return 1;
        case host_key_status::unknown: break;
        }
        return 0;
    };
    if (rank(s) <= rank(into.status)) return;  // the first line of the strongest verdict names the place
    into.status = s;
    into.file = std::string(file);
    into.line = line;
}

void check_line(std::string_view line, std::string_view file, int number, std::string_view name, std::string_view type,
                std::span<const std::uint8_t> blob, host_key_check& into, bool authorities) {
    std::string_view rest = line;
    std::string_view word = next_word(rest);
    if (word.empty() || word.front() == '#') return;
    marker m = marker::none;
    if (word.front() == '@') {
        m = word == "@revoked" ? marker::revoked : word == "@cert-authority" ? marker::cert_authority : marker::unknown;
        word = next_word(rest);
    }
    const std::string_view hosts = word;
    const std::string_view line_type = next_word(rest);
    if (m == marker::unknown || (m != marker::revoked && (m == marker::cert_authority) != authorities)) return;
    if (authorities && type.empty()) {
        if (m == marker::cert_authority && !line_type.empty() && hosts_match(hosts, name))
            fold(into, host_key_status::known, file, number);
        return;
    }
    if (line_type != type) return;  // other key types of the host do not count (nor is their key scanned)
    const std::string_view key = next_word(rest);
    if (key.empty()) return;
    if (m != marker::revoked && !hosts_match(hosts, name)) return;

    std::array<std::uint8_t, max_blob> buf;
    std::size_t n = 0;
    if (!base64_decode(key, buf, n)) return;
    const std::span<const std::uint8_t> line_blob(buf.data(), n);
    if (blob_type(line_blob) != line_type || !well_formed(line_blob)) return;  // a lying type word is not trusted
    const bool same = n == blob.size() && std::memcmp(buf.data(), blob.data(), n) == 0;

    if (m == marker::revoked || authorities) {
        if (same) fold(into, m == marker::revoked ? host_key_status::revoked : host_key_status::known, file, number);
        return;
    }
    fold(into, same ? host_key_status::known : host_key_status::changed, file, number);
}

std::string errno_text(int e) { return std::strerror(e); }

// Feeds one file to `reader` block by block without blocking on a FIFO or device. False with the reason when the
// file exists but is no regular file or cannot be read to its end.
bool read_file(const std::string& path, known_hosts_reader& reader, bool& missing, std::string& why) {
    missing = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        missing = errno == ENOENT || errno == ENOTDIR;
        why = errno_text(errno);
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok) {
        why = errno_text(errno);
    } else if (!S_ISREG(st.st_mode)) {
        ok = false;
        why = "not a regular file";
    }
    if (ok) {
        const auto block = std::make_unique_for_overwrite<char[]>(read_block);
        for (;;) {
            const ssize_t r = ::read(fd, block.get(), read_block);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) {
                ok = false;  // the line cut short by the error is not read either
                why = "read error: " + errno_text(errno);
                break;
            }
            if (r == 0) break;  // the end, also when the file shrank meanwhile
            reader.feed(std::string_view(block.get(), std::size_t(r)));
        }
        if (ok) reader.finish();
    }
    ::close(fd);
    return ok;
}

bool valid_host(std::string_view host) {
    if (host.empty() || host.front() == '|' || host.front() == '@') return false;
    for (char c : host) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= ' ' || u == 0x7f || std::strchr(",*?![]#", c)) return false;
    }
    return true;
}

bool write_all(int fd, std::string_view s) {
    while (!s.empty()) {
        const ssize_t w = ::write(fd, s.data(), s.size());
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        s.remove_prefix(std::size_t(w));
    }
    return true;
}

bool is_link(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

std::string base64_encode(std::span<const std::uint8_t> in, bool pad) {
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= in.size(); i += 3) {
        const std::uint32_t v = (std::uint32_t(in[i]) << 16) | (std::uint32_t(in[i + 1]) << 8) | in[i + 2];
        for (int s = 18; s >= 0; s -= 6) out.push_back(b64_alphabet[(v >> s) & 63]);
    }
    const std::size_t left = in.size() - i;
    if (left) {
        std::uint32_t v = std::uint32_t(in[i]) << 16;
        if (left == 2) v |= std::uint32_t(in[i + 1]) << 8;
        out.push_back(b64_alphabet[(v >> 18) & 63]);
        out.push_back(b64_alphabet[(v >> 12) & 63]);
        if (left == 2) out.push_back(b64_alphabet[(v >> 6) & 63]);
        if (pad) out.append(left == 1 ? "==" : "=");
    }
    return out;
}

bool base64_decode(std::string_view in, std::span<std::uint8_t> out, std::size_t& written) {
    written = 0;
    std::size_t pads = 0;
    while (pads < 2 && pads < in.size() && in[in.size() - 1 - pads] == '=') ++pads;
    if (pads && in.size() % 4 != 0) return false;
    in.remove_suffix(pads);
    if (in.size() % 4 == 1) return false;
    std::uint32_t acc = 0;
    int bits = 0;
    for (char c : in) {
        const int v = b64_value(c);
        if (v < 0) return false;
        acc = (acc << 6) | std::uint32_t(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            if (written == out.size()) return false;
            out[written++] = std::uint8_t(acc >> bits);
            acc &= (1u << bits) - 1;
        }
    }
    return true;
}

std::string known_host_name(std::string_view host, int port) {
    std::string h;
    h.reserve(host.size() + 8);
    for (char c : host) h.push_back(lower(c));
    if (port == 22) return h;
    return "[" + h + "]:" + std::to_string(port);
}

known_hosts_reader::known_hosts_reader(std::string_view file_name, std::string_view host, int port,
                                       std::string_view type, std::span<const std::uint8_t> blob, host_key_check& into,
                                       bool authorities)
    : file_(file_name),
      name_(known_host_name(host, port)),
      type_(type),
      blob_(blob),
      into_(into),
      authorities_(authorities) {}

void known_hosts_reader::line(std::string_view text) {
    ++number_;
    if (text.ends_with('\r')) text.remove_suffix(1);
    check_line(text, file_, number_, name_, type_, blob_, into_, authorities_);
}

void known_hosts_reader::feed(std::string_view piece) {
    while (!piece.empty()) {
        const void* nl = std::memchr(piece.data(), '\n', piece.size());
        const std::size_t len = nl ? std::size_t(static_cast<const char*>(nl) - piece.data()) : piece.size();
        const std::string_view part = piece.substr(0, len);
        piece.remove_prefix(nl ? len + 1 : len);
        if (!skipping_ && carry_.size() + len > known_hosts_max_line) {
            skipping_ = true;
            carry_.clear();
        }
        if (!nl) {
            if (!skipping_) {
                if (carry_.capacity() < known_hosts_max_line) carry_.reserve(known_hosts_max_line);
                carry_.append(part);
            }
            return;
        }
        if (skipping_) {
            ++number_;
            skipping_ = false;
        } else if (carry_.empty()) {
            line(part);  // whole within the piece: no copy
        } else {
            carry_.append(part);
            line(carry_);
            carry_.clear();
        }
    }
}

void known_hosts_reader::finish() {
    if (skipping_)
        ++number_;
    else if (!carry_.empty())
        line(carry_);
    skipping_ = false;
    carry_.clear();
}

void check_host_key_text(std::string_view text, std::string_view file_name, std::string_view host, int port,
                         std::string_view type, std::span<const std::uint8_t> blob, host_key_check& into) {
    known_hosts_reader reader(file_name, host, port, type, blob, into);
    reader.feed(text);
    reader.finish();
}

namespace {

host_key_check check_files(const std::vector<std::string>& files, std::string_view host, int port,
                           std::string_view type, std::span<const std::uint8_t> blob, bool authorities) {
    host_key_check result;
    for (const auto& f : files) {
        if (f.empty()) continue;
        known_hosts_reader reader(f, host, port, type, blob, result, authorities);
        bool missing = false;
        std::string why;
        if (!read_file(f, reader, missing, why) && !missing) result.unread.push_back(f + ": " + why);
    }
    return result;
}

}  // namespace

host_key_check check_host_key(const std::vector<std::string>& files, std::string_view host, int port,
                              std::string_view type, std::span<const std::uint8_t> blob) {
    return check_files(files, host, port, type, blob, false);
}

host_key_check check_cert_authority(const std::vector<std::string>& files, std::string_view host, int port,
                                    std::string_view ca_type, std::span<const std::uint8_t> ca_blob) {
    if (ca_type.empty()) return {};  // an empty type would match any authority line
    return check_files(files, host, port, ca_type, ca_blob, true);
}

bool has_cert_authority(const std::vector<std::string>& files, std::string_view host, int port) {
    return check_files(files, host, port, {}, {}, true).status == host_key_status::known;
}

bool remember_host_key(const std::string& file, std::string_view host, int port, std::string_view type,
                       std::span<const std::uint8_t> blob, std::string& error) {
    if (!valid_host(host)) {
        error = "the host name \"" + std::string(host) + "\" cannot stand in the file";
        return false;
    }
    if (port <= 0 || port > 65535) {
        error = "port " + std::to_string(port) + " is out of range";
        return false;
    }
    if (type.empty() || blob_type(blob) != type || !well_formed(blob)) {
        error = "the key is not a \"" + std::string(type) + "\" key";
        return false;
    }
    std::string line = known_host_name(host, port) + ' ' + std::string(type) + ' ' + base64_encode(blob) + '\n';
    if (line.size() > known_hosts_max_line) {  // it could not be read back
        error = "the key is too long for a line";
        return false;
    }
    const std::size_t slash = file.rfind('/');
    if (file.empty() || slash == file.size() - 1) {
        error = "no file name";
        return false;
    }
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
    const std::string leaf = slash == std::string::npos ? file : file.substr(slash + 1);

    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0 && errno == ENOENT) {
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create the folder " + folder + ": " + errno_text(errno);
            return false;
        }
        dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dir >= 0) ::fchmod(dir, 0700);  // whatever the umask allowed
    }
    if (dir < 0) {
        const std::string why = errno_text(errno);
        error = is_link(folder) ? "the folder " + folder + " is a symbolic link; nothing is written through it"
                                : "cannot open the folder " + folder + ": " + why;
        return false;
    }
    constexpr int flags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    bool created = true;
    int fd = ::openat(dir, leaf.c_str(), flags | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::openat(dir, leaf.c_str(), flags);
    }
    const int open_errno = errno;
    ::close(dir);
    if (fd < 0) {
        error =
            open_errno == ELOOP ? "the file is a symbolic link; nothing is written through it" : errno_text(open_errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = "not a regular file";
        return false;
    }
    if (created) ::fchmod(fd, 0600);

    char last = '\n';
    if (st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') line.insert(0, 1, '\n');
    const bool wrote = write_all(fd, line);
    const int write_errno = errno;
    if (::close(fd) != 0 || !wrote) {
        error = errno_text(wrote ? errno : write_errno);
        return false;
    }
    return true;
}

std::string default_user_known_hosts() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return {};
    return std::string(home) + "/.ssh/known_hosts";
}

std::vector<std::string> default_known_hosts_files() {
    std::vector<std::string> files;
    std::string user = default_user_known_hosts();
    if (!user.empty()) files.push_back(std::move(user));
    files.emplace_back("/etc/ssh/ssh_known_hosts");
    return files;
}

std::string host_key_fingerprint(std::span<const std::uint8_t> blob) {
    std::uint8_t md[crypto::evp::max_digest_length];
    const std::size_t len = crypto::evp::digest(crypto::evp::hash_kind::sha256, blob.data(), blob.size(), md);
    if (len == 0) return {};
    return "SHA256:" + base64_encode(std::span<const std::uint8_t>(md, len), false);
}

std::vector<std::uint8_t> ssh1_rsa_host_key_blob(std::span<const std::uint8_t> exponent,
                                                 std::span<const std::uint8_t> modulus) {
    std::vector<std::uint8_t> out;
    auto put_string = [&out](std::span<const std::uint8_t> s, bool sign_byte) {
        const std::uint32_t n = std::uint32_t(s.size() + (sign_byte ? 1 : 0));
        for (int i = 3; i >= 0; --i) out.push_back(std::uint8_t(n >> (8 * i)));
        if (sign_byte) out.push_back(0);
        out.insert(out.end(), s.begin(), s.end());
    };
    auto put_mpint = [&put_string](std::span<const std::uint8_t> m) {
        while (!m.empty() && m.front() == 0) m = m.subspan(1);
        put_string(m, !m.empty() && (m.front() & 0x80));
    };
    const auto* t = reinterpret_cast<const std::uint8_t*>(ssh1_rsa_key_type.data());
    put_string({t, ssh1_rsa_key_type.size()}, false);
    put_mpint(exponent);
    put_mpint(modulus);
    return out;
}

std::string changed_host_key_message(const host_key_check& c, std::string_view host, int port, std::string_view type,
                                     std::string_view fingerprint) {
    std::string t = "WARNING: THE HOST KEY OF " + known_host_name(host, port) + " HAS CHANGED!\n\n";
    t += "Someone may be posing as this host (an impostor listening in on the connection), or the host's key has "
         "been replaced.\n";
    t += "The " + std::string(type) + " key the host sent has the fingerprint " + std::string(fingerprint) + ".\n";
    t += "The key trusted until now is in " + c.file + " on line " + std::to_string(c.line) + ".\n\n";
    t += "The connection is refused. If the change is expected, remove that line and connect again.";
    return t;
}

std::string revoked_host_key_message(const host_key_check& c, std::string_view host, int port, std::string_view type,
                                     std::string_view fingerprint) {
    return "WARNING: THE HOST KEY OF " + known_host_name(host, port) + " IS REVOKED!\n\nThe " + std::string(type) +
           " key " + std::string(fingerprint) + " is marked @revoked in " + c.file + " on line " +
           std::to_string(c.line) + ".\nThe connection is refused.";
}

std::string revoked_authority_message(const host_key_check& c, std::string_view host, int port,
                                      std::string_view ca_type, std::string_view ca_fingerprint) {
    return "WARNING: THE CERTIFICATE AUTHORITY OF THE HOST KEY OF " + known_host_name(host, port) +
           " IS REVOKED!\n\nThe host's certificate is signed by the " + std::string(ca_type) + " key " +
           std::string(ca_fingerprint) + ", which is marked @revoked in " + c.file + " on line " +
           std::to_string(c.line) + ".\nThe connection is refused.";
}

std::string unread_known_hosts_message(const host_key_check& c, std::string_view host, int port) {
    std::string t = "The host key of " + known_host_name(host, port) + " cannot be checked: ";
    t += c.unread.size() == 1 ? "a known hosts file exists but could not be read:\n"
                              : "known hosts files exist but could not be read:\n";
    for (const std::string& why : c.unread) t += "  " + why + "\n";
    t += "\nA line there might name another key of this host or revoke this one, so the connection is refused. "
         "Make the file a readable regular file, or remove it, and connect again.";
    return t;
}

std::string unknown_host_key_question(std::string_view host, int port, std::string_view type,
                                      std::string_view fingerprint, const host_certificate_facts* certificate) {
    std::string q = "The authenticity of host " + known_host_name(host, port) +
                    " cannot be established: its key is not in "
                    "the known hosts files.\nThe " +
                    std::string(type) + " key fingerprint is " + std::string(fingerprint) + ".\n";
    if (certificate)
        q += "The host showed it in a certificate (ID \"" + certificate->key_id + "\", serial " +
             std::to_string(certificate->serial) + ") signed by the " + certificate->ca_type + " CA " +
             certificate->ca_fingerprint + ", which is not enough by itself: " + certificate->problem + ".\n";
    return q + "Compare it with the one the host's administrator gave you before you accept it.";
}

namespace {

// The files a policy reads (its own user files, or the default one, then the system's) and the one it writes.
std::vector<std::string> policy_files(const host_key_policy& policy) {
    if (policy.user_files.empty()) return default_known_hosts_files();
    std::vector<std::string> files = policy.user_files;
    files.emplace_back("/etc/ssh/ssh_known_hosts");
    return files;
}

host_trust decide_plain_trust(std::string_view host, int port, std::string_view type,
                              std::span<const std::uint8_t> blob, ssh_prompts& prompts, std::vector<std::string>& log,
                              const host_certificate_facts* certificate, const host_key_policy& policy) {
    // HostKeyAlias names the key in the files instead of host:port, as ssh does.
    if (!policy.alias.empty()) {
        host = policy.alias;
        port = 22;
    }
    const std::vector<std::string> files = policy_files(policy);
    const host_key_check c = check_host_key(files, host, port, type, blob);
    for (const std::string& why : c.unread) log.push_back("known_hosts not read: " + why);
    const std::string fp = host_key_fingerprint(blob);
    switch (c.status) {
    case host_key_status::changed:
        return {host_trust::verdict::refused, changed_host_key_message(c, host, port, type, fp)};
    case host_key_status::revoked:
        return {host_trust::verdict::refused, revoked_host_key_message(c, host, port, type, fp)};
    case host_key_status::known:
    case host_key_status::unknown: break;
    }
    // Known from one file does not help either: the unread one might revoke the key.
    if (!c.unread.empty()) return {host_trust::verdict::refused, unread_known_hosts_message(c, host, port)};
    if (c.status == host_key_status::known) return {};
    using unknown_key = host_key_policy::unknown_key;
    if (policy.on_unknown == unknown_key::refuse)
        return {host_trust::verdict::refused, "No known_hosts file holds a key of " + known_host_name(host, port) +
                                                  " (" + std::string(type) + " " + fp +
                                                  "), and StrictHostKeyChecking asks for one. Session must close!!!"};
    const host_key_answer a = policy.on_unknown == unknown_key::accept ? host_key_answer::accept_and_remember
                              : certificate ? prompts.confirm_certified_host_key(host, port, type, fp, *certificate)
                                            : prompts.confirm_host_key(host, port, type, fp);
    if (a == host_key_answer::cancel) return {host_trust::verdict::cancelled, {}};
    if (policy.on_unknown == unknown_key::accept)
        log.push_back("new host key of " + known_host_name(host, port) + " " + fp + " remembered unasked");
    const std::string user_file = policy.user_files.empty() ? default_user_known_hosts() : policy.user_files.front();
    std::string error;
    if (a == host_key_answer::accept_and_remember && !user_file.empty() &&
        !remember_host_key(user_file, host, port, type, blob, error))
        return {host_trust::verdict::trusted, "The host key could not be remembered in " + user_file + ": " + error};
    return {};
}

}  // namespace

host_key_policy host_key_policy_of(const ssh_profile& s) {
    host_key_policy p;
    p.alias = s.host_key_alias;
    p.user_files = s.known_hosts_files;
    p.on_unknown = s.strict_host_key_checking == 1   ? host_key_policy::unknown_key::refuse
                   : s.strict_host_key_checking == 2 ? host_key_policy::unknown_key::accept
                                                     : host_key_policy::unknown_key::ask;
    return p;
}

host_trust decide_host_trust(std::string_view host, int port, std::string_view type, std::span<const std::uint8_t> blob,
                             ssh_prompts& prompts, std::vector<std::string>& log, const host_key_policy& policy) {
    return decide_plain_trust(host, port, type, blob, prompts, log, nullptr, policy);
}

}  // namespace ssh

namespace ssh {

host_trust decide_host_certificate_trust(std::string_view host, int port, std::span<const std::uint8_t> cert_blob,
                                         std::uint64_t now, ssh_prompts& prompts, std::vector<std::string>& log,
                                         std::string_view principal, const host_key_policy& policy) {
    const std::optional<certificate> c = parse_certificate(cert_blob);
    if (!c) return {host_trust::verdict::refused, "The host's certificate cannot be read. Session must close!!!"};
    if (!policy.alias.empty()) {
        host = policy.alias;
        port = 22;
    }
    const std::vector<std::string> files = policy_files(policy);
    const std::string ca_type = crypto::evp::key_type(c->ca_key);
    const std::string ca_fp = host_key_fingerprint(c->ca_key);
    const host_key_check ca = check_cert_authority(files, host, port, ca_type, c->ca_key);
    for (const std::string& why : ca.unread) log.push_back("known_hosts not read: " + why);
    if (ca.status == host_key_status::revoked)
        return {host_trust::verdict::refused, revoked_authority_message(ca, host, port, ca_type, ca_fp)};
    if (!ca.unread.empty()) return {host_trust::verdict::refused, unread_known_hosts_message(ca, host, port)};
    const std::string what = "host certificate ID \"" + c->key_id + "\" serial " + std::to_string(c->serial) +
                             " signed by the " + ca_type + " CA " + ca_fp;
    host_certificate_facts facts{c->key_id, c->serial, ca_type, ca_fp, {}};
    if (ca.status == host_key_status::known) {
        const std::string name = principal.empty() ? known_host_name(host, 22) : std::string(principal);
        const std::string problem = certificate_problem(*c, certificate_kind::host, name, now);
        if (problem.empty()) {
            const host_key_check k = check_host_key(files, host, port, c->key_type, c->key);
            if (k.status == host_key_status::revoked)
                return {host_trust::verdict::refused,
                        revoked_host_key_message(k, host, port, c->key_type, host_key_fingerprint(c->key))};
            log.push_back(what + " accepted (@cert-authority in " + ca.file + " on line " + std::to_string(ca.line) +
                          ")");
            return {};
        }
        log.push_back(what + " not accepted: " + problem + "; its key is checked as a plain host key");
        facts.problem = problem;
    } else {
        facts.problem = "no @cert-authority line for " + known_host_name(host, port) + " holds that CA";
        log.push_back(what + ": " + facts.problem + "; its key is checked as a plain host key");
    }
    return decide_plain_trust(host, port, c->key_type, c->key, prompts, log, &facts, policy);
}

host_trust decide_host_certificate_trust(std::string_view host, int port, std::span<const std::uint8_t> cert_blob,
                                         ssh_prompts& prompts, std::vector<std::string>& log,
                                         const host_key_policy& policy) {
    const std::time_t now = std::time(nullptr);
    return decide_host_certificate_trust(host, port, cert_blob, now < 0 ? 0 : std::uint64_t(now), prompts, log,
                                         policy.alias, policy);
}

}  // namespace ssh
