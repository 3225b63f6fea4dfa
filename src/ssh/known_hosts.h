#pragma once
// Host-key trust in OpenSSH's known_hosts format, so that a key the user already trusts with `ssh` is trusted here
// too and a key remembered here is trusted by `ssh`.
//
// A line is `[@marker] patterns type base64 [comment]`. Patterns are a comma list of names or addresses with `*`
// and `?` wildcards and `!` negation, `[host]:port` for ports other than 22, or one hashed `|1|salt|hash` entry
// (HMAC-SHA1 of the host text keyed with the salt). Host names are compared in lower case. `@cert-authority` lines
// name keys trusted to sign host certificates for the hosts they match (read only when a host shows a
// certificate); an `@revoked` line refuses its key for every host, whatever its patterns say.
//
// SSH-1 RSA host keys use the type name "rsa1" and the blob string "rsa1", mpint e, mpint n (see
// ssh1_rsa_host_key_blob), so they never collide with an SSH-2 "ssh-rsa" key of the same host. The old decimal
// "bits e n" lines of SSH-1 are not read.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct ssh_profile;

namespace ssh {

constexpr std::size_t known_hosts_max_line = 16 * 1024;  // longer lines are skipped whole
constexpr std::string_view ssh1_rsa_key_type = "rsa1";

enum class host_key_status { known, unknown, changed, revoked };

struct host_key_check {
    host_key_status status = host_key_status::unknown;
    std::string file;  // where the verdict comes from (changed: the first line with another key of the type)
    int line = 0;
    // Files that exist but could not be read (or not to their end), as "file: reason". Their lines might change or
    // revoke the key, so a verdict with any of these must not be trusted.
    std::vector<std::string> unread;
};

// `files` are read in order, whatever their size, in memory bounded by one line; missing files are no error.
// `type` is the blob's own type name.
host_key_check check_host_key(const std::vector<std::string>& files, std::string_view host, int port,
                              std::string_view type, std::span<const std::uint8_t> blob);

// The lines of one file handed over in pieces of any size (a file read block by block). Only a line that spans
// pieces is copied, into one buffer of known_hosts_max_line bytes; a longer line is skipped to its end, never cut
// short into a match. Folds into `into`; `blob` and `into` must outlive the reader.
class known_hosts_reader {
public:
    // authorities: the @cert-authority lines stand where the plain ones do (known: a line of the host holds the
    // key; never changed, as a host may have several CAs), and the plain lines are skipped. With an empty type,
    // any @cert-authority line of the host counts as known.
    known_hosts_reader(std::string_view file_name, std::string_view host, int port, std::string_view type,
                       std::span<const std::uint8_t> blob, host_key_check& into, bool authorities = false);
    void feed(std::string_view piece);
    void finish();  // the last line, when the text does not end with a newline

private:
    void line(std::string_view text);
    std::string file_, name_, type_;
    std::span<const std::uint8_t> blob_;
    host_key_check& into_;
    std::string carry_;      // the start of a line that spans pieces; never longer than known_hosts_max_line
    bool skipping_ = false;  // within an over-long line
    bool authorities_ = false;
    int number_ = 0;
};
// One file's whole text through the reader (the fuzzer and the tables use it).
void check_host_key_text(std::string_view text, std::string_view file_name, std::string_view host, int port,
                         std::string_view type, std::span<const std::uint8_t> blob, host_key_check& into);

// The certificate authority `ca_blob` for the host (see known_hosts_reader's authorities).
host_key_check check_cert_authority(const std::vector<std::string>& files, std::string_view host, int port,
                                    std::string_view ca_type, std::span<const std::uint8_t> ca_blob);
// Whether some readable @cert-authority line matches the host: its certificate algorithms are then offered first.
bool has_cert_authority(const std::vector<std::string>& files, std::string_view host, int port);

// Appends "host type base64\n" (or "[host]:port ..." when port != 22) to file, creating it 0600 and its folder
// 0700 when missing, never through a symbolic link; false and the reason (without the file's name) on failure.
bool remember_host_key(const std::string& file, std::string_view host, int port, std::string_view type,
                       std::span<const std::uint8_t> blob, std::string& error);

std::string default_user_known_hosts();  // $HOME/.ssh/known_hosts; empty without HOME
// The user's file (when HOME is set), then the system's.
std::vector<std::string> default_known_hosts_files();

// "SHA256:" and the unpadded base64 of SHA-256(blob), as OpenSSH prints it.
std::string host_key_fingerprint(std::span<const std::uint8_t> blob);

// The SSH-1 host key as a blob: string "rsa1", mpint e, mpint n, from big-endian magnitudes.
std::vector<std::uint8_t> ssh1_rsa_host_key_blob(std::span<const std::uint8_t> exponent,
                                                 std::span<const std::uint8_t> modulus);

// The name a host is known by in the files: lower case, "[host]:port" for ports other than 22.
std::string known_host_name(std::string_view host, int port);

// The refusal of a changed key: loud, naming the file and line of the old key and the chance of an impostor.
std::string changed_host_key_message(const host_key_check& c, std::string_view host, int port, std::string_view type,
                                     std::string_view fingerprint);
std::string revoked_host_key_message(const host_key_check& c, std::string_view host, int port, std::string_view type,
                                     std::string_view fingerprint);
// The refusal when a known_hosts file exists but could not be read: names each file and what is wrong with it.
std::string unread_known_hosts_message(const host_key_check& c, std::string_view host, int port);
struct ssh_prompts;
struct host_certificate_facts;

// The question for a key not seen before; with `certificate`, the certificate it came in is described too.
std::string unknown_host_key_question(std::string_view host, int port, std::string_view type,
                                      std::string_view fingerprint,
                                      const host_certificate_facts* certificate = nullptr);

// The whole decision for a host key both engines make once per connection: known_hosts, then the question for an
// unknown key (remembered in the user's file when the answer says so). A file that exists but could not be read
// refuses the connection: it is never taken as holding no line for the host. `log` receives lines for the debug log.
struct host_trust {
    enum class verdict { trusted, refused, cancelled } result = verdict::trusted;
    std::string message;  // refused: the refusal to show; trusted: a note to show (the key could not be remembered)
};
// How a connection's ~/.ssh/config asks for its host key to be checked; the default is the program's own way.
struct host_key_policy {
    std::string alias;                    // HostKeyAlias: the name looked up and remembered instead of host:port
    std::vector<std::string> user_files;  // UserKnownHostsFile; empty: ~/.ssh/known_hosts. The first is written.
    // StrictHostKeyChecking for a key no file knows: ask, refuse (yes), or remember it unasked (accept-new, no).
    // A changed or revoked key is refused whatever it says.
    enum class unknown_key { ask, refuse, accept } on_unknown = unknown_key::ask;
};
host_trust decide_host_trust(std::string_view host, int port, std::string_view type, std::span<const std::uint8_t> blob,
                             ssh_prompts& prompts, std::vector<std::string>& log, const host_key_policy& policy = {});
// The policy a connection's SSH record asks for.
host_key_policy host_key_policy_of(const ssh_profile& s);

// The same for a host certificate (as OpenSSH decides it): trusted without a question when an @cert-authority line
// of the host holds its CA and the certificate stands for the host at `now` (host kind, within its validity, the
// host name or `principal` among its principals); refused when its CA or its key is @revoked. Otherwise, the log
// saying why, its key is decided as a plain key. `principal` is the host name when empty (HostKeyAlias).
host_trust decide_host_certificate_trust(std::string_view host, int port, std::span<const std::uint8_t> cert_blob,
                                         std::uint64_t now, ssh_prompts& prompts, std::vector<std::string>& log,
                                         std::string_view principal = {}, const host_key_policy& policy = {});
// With the system clock; the principal is the policy's alias when it has one.
host_trust decide_host_certificate_trust(std::string_view host, int port, std::span<const std::uint8_t> cert_blob,
                                         ssh_prompts& prompts, std::vector<std::string>& log,
                                         const host_key_policy& policy = {});
// The refusal of a certificate whose CA is @revoked.
std::string revoked_authority_message(const host_key_check& c, std::string_view host, int port,
                                      std::string_view ca_type, std::string_view ca_fingerprint);

// Base64 as the files use it. decode: false on a character outside the alphabet, misplaced padding or output
// beyond `out`; `written` is the decoded length.
std::string base64_encode(std::span<const std::uint8_t> in, bool pad = true);
bool base64_decode(std::string_view in, std::span<std::uint8_t> out, std::size_t& written);

}  // namespace ssh
