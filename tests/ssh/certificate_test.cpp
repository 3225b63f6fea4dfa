// OpenSSH certificates made by ssh-keygen for every key type under every kind of CA, read back field by field
// (and against ssh-keygen -L), then damaged byte by byte; hand-built ones for the rules ssh-keygen never breaks.
#include "ssh/certificate.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "../support/peer_process.h"
#include "../support/scoped_home.h"
#include "crypto/evp.h"
#include "ssh/known_hosts.h"
#include "ssh/services.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;
using peer_test::run;
using peer_test::slurp;

bytes pub_file_blob(const fs::path& p) {
    std::istringstream in(slurp(p));
    std::string type, b64;
    in >> type >> b64;
    bytes blob(b64.size());
    std::size_t n = 0;
    if (!ssh::base64_decode(b64, blob, n)) return {};
    blob.resize(n);
    return blob;
}

struct fields {
    bytes out;
    void u32(std::uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) out.push_back(std::uint8_t(v >> s));
    }
    void u64(std::uint64_t v) {
        u32(std::uint32_t(v >> 32));
        u32(std::uint32_t(v));
    }
    void string(std::span<const std::uint8_t> s) {
        u32(std::uint32_t(s.size()));
        out.insert(out.end(), s.begin(), s.end());
    }
    void string(std::string_view s) { string(std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size())); }
};

constexpr std::uint64_t jan_2020 = 1577836800, jan_2030 = 1893456000;

struct key_case {
    const char* name;
    const char* keygen;
};
const key_case subjects[] = {{"ed25519", "-t ed25519"},
                             {"ecdsa256", "-t ecdsa -b 256"},
                             {"ecdsa384", "-t ecdsa -b 384"},
                             {"ecdsa521", "-t ecdsa -b 521"},
                             {"rsa", "-t rsa -b 2048"}};
const key_case authorities[] = {
    {"ca_ed25519", "-t ed25519"}, {"ca_ecdsa256", "-t ecdsa -b 256"}, {"ca_ecdsa521", "-t ecdsa -b 521"},
    {"ca_rsa", "-t rsa -b 3072"}, {"ca_ed25519_b", "-t ed25519"},
};

struct Certificates : ::testing::Test {
    static inline fs::path dir;
    static inline bool have_keygen = false;
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/certificate_test_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        have_keygen = ::access("/usr/bin/ssh-keygen", X_OK) == 0;
        if (!have_keygen) return;
        int st = 0;
        for (const auto* set : {&subjects, &authorities})
            for (const key_case& k : *set) {
                run(std::string("ssh-keygen -q ") + k.keygen + " -N '' -C test -f " + (dir / k.name).string() +
                        " </dev/null >/dev/null 2>&1",
                    &st);
                ASSERT_EQ(st, 0) << k.name;
            }
    }
    static void TearDownTestSuite() { fs::remove_all(dir); }
    void SetUp() override {
        if (!have_keygen) GTEST_SKIP() << "ssh-keygen is not installed";
    }
    // ssh-keygen -s with the given options; the certificate's blob, and ssh-keygen -L's text in *listing.
    static bytes sign(const std::string& subject, const std::string& ca, const std::string& options,
                      std::string* listing = nullptr) {
        const fs::path pub = dir / (subject + ".pub"), cert = dir / (subject + "-cert.pub");
        fs::remove(cert);
        int st = 0;
        run("ssh-keygen -q -s " + (dir / ca).string() + " " + options + " " + pub.string() + " 2>&1", &st);
        EXPECT_EQ(st, 0) << options;
        if (listing) *listing = run("ssh-keygen -L -f " + cert.string());
        return pub_file_blob(cert);
    }
};

TEST_F(Certificates, EveryKeyTypeUnderEveryAuthorityReadsAsSshKeygenMadeIt) {
    struct row {
        const char* subject;
        const char* ca;
        const char* sig_option;
        const char* sig_alg;
        bool host;
    };
    const row rows[] = {
        {"ed25519", "ca_ed25519", "", "ssh-ed25519", false},
        {"ecdsa256", "ca_ed25519", "", "ssh-ed25519", true},
        {"ecdsa384", "ca_ecdsa256", "", "ecdsa-sha2-nistp256", false},
        {"ecdsa521", "ca_ecdsa521", "", "ecdsa-sha2-nistp521", true},
        {"rsa", "ca_rsa", "-t rsa-sha2-512", "rsa-sha2-512", false},
        {"ed25519", "ca_rsa", "-t rsa-sha2-256", "rsa-sha2-256", true},
        {"rsa", "ca_rsa", "-t ssh-rsa", "ssh-rsa", true},
        {"rsa", "ca_ecdsa256", "", "ecdsa-sha2-nistp256", false},
    };
    std::uint64_t serial = 1;
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.subject) + " under " + r.ca + " " + r.sig_option);
        std::string listing;
        const std::string opts = std::string(r.sig_option) + " -I 'key id " + std::to_string(serial) +
                                 "' -n alice,bob.example -z " + std::to_string(serial) +
                                 " -V 20200101000000Z:20300101000000Z" + (r.host ? " -h" : "");
        const bytes blob = sign(r.subject, r.ca, opts, &listing);
        const auto c = ssh::parse_certificate(blob);
        ASSERT_TRUE(c);
        const bytes plain = pub_file_blob(dir / (std::string(r.subject) + ".pub"));
        EXPECT_EQ(c->key, plain);
        EXPECT_EQ(c->key_type, crypto::evp::key_type(plain));
        EXPECT_EQ(ssh::certificate_plain_type(c->type), c->key_type);
        EXPECT_EQ(c->serial, serial);
        EXPECT_EQ(c->kind, r.host ? ssh::certificate_kind::host : ssh::certificate_kind::user);
        EXPECT_EQ(c->key_id, "key id " + std::to_string(serial));
        EXPECT_EQ(c->principals, (std::vector<std::string>{"alice", "bob.example"}));
        EXPECT_EQ(c->valid_after, jan_2020);
        EXPECT_EQ(c->valid_before, jan_2030);
        EXPECT_EQ(c->ca_key, pub_file_blob(dir / (std::string(r.ca) + ".pub")));
        EXPECT_EQ(c->signature_algorithm, r.sig_alg);
        EXPECT_TRUE(c->signature_valid);
        // ssh-keygen's own reading: the CA's fingerprint and the algorithm it signed with.
        EXPECT_NE(listing.find(ssh::host_key_fingerprint(c->ca_key) + " (using " + r.sig_alg + ")"), std::string::npos)
            << listing;
        EXPECT_NE(listing.find(std::string(r.host ? "host" : "user") + " certificate"), std::string::npos) << listing;
        ++serial;
    }
}

TEST_F(Certificates, OptionsAndExtensionsAreReadInOrder) {
    const bytes blob = sign("ed25519", "ca_ed25519",
                            "-I opts -n alice -O clear -O force-command=/bin/true -O source-address=127.0.0.1 "
                            "-O permit-pty -O extension:zz@example=abc");
    const auto c = ssh::parse_certificate(blob);
    ASSERT_TRUE(c);
    ASSERT_EQ(c->critical_options.size(), 2u);
    EXPECT_EQ(c->critical_options[0].name, "force-command");
    fields inner;
    inner.string("/bin/true");
    EXPECT_EQ(c->critical_options[0].data, inner.out);
    EXPECT_EQ(c->critical_options[1].name, "source-address");
    ASSERT_EQ(c->extensions.size(), 2u);
    EXPECT_EQ(c->extensions[0].name, "permit-pty");
    EXPECT_TRUE(c->extensions[0].data.empty());
    EXPECT_EQ(c->extensions[1].name, "zz@example");
    EXPECT_TRUE(c->signature_valid);
}

// Every shorter blob is refused, and so is one with a byte after the signature. A flipped bit anywhere the CA
// signed leaves either no certificate or one whose signature fails; the same certificate with another CA's key of
// the same type put in fails too.
TEST_F(Certificates, DamagedCertificatesNeverVerify) {
    for (const char* ca : {"ca_ed25519", "ca_rsa"}) {
        SCOPED_TRACE(ca);
        const bytes good = sign("ecdsa256", ca, "-I damage -n alice");
        ASSERT_TRUE(ssh::parse_certificate(good) && ssh::parse_certificate(good)->signature_valid);
        for (std::size_t n = 0; n < good.size(); ++n)
            ASSERT_FALSE(ssh::parse_certificate(std::span(good).first(n))) << "cut at " << n;
        bytes longer = good;
        longer.push_back(0);
        EXPECT_FALSE(ssh::parse_certificate(longer));
        std::size_t read_anyway = 0;
        for (std::size_t i = 0; i < good.size(); ++i) {
            bytes bad = good;
            bad[i] ^= 0x10;
            const auto c = ssh::parse_certificate(bad);
            if (!c) continue;
            ++read_anyway;
            ASSERT_FALSE(c->signature_valid) << "byte " << i;
        }
        EXPECT_GT(read_anyway, good.size() / 2) << "most flips land in fields that still read";
    }
    const bytes good = sign("ed25519", "ca_ed25519", "-I swap -n alice");
    const bytes ca = pub_file_blob(dir / "ca_ed25519.pub"), other = pub_file_blob(dir / "ca_ed25519_b.pub");
    ASSERT_EQ(ca.size(), other.size());
    bytes swapped = good;
    const auto at = std::search(swapped.begin(), swapped.end(), ca.begin(), ca.end());
    ASSERT_NE(at, swapped.end());
    std::copy(other.begin(), other.end(), at);
    const auto c = ssh::parse_certificate(swapped);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->ca_key, other);
    EXPECT_FALSE(c->signature_valid);
}

// ---- host certificates against known_hosts

struct asking_prompts : ssh::ssh_prompts {
    int questions = 0;
    std::optional<ssh::host_certificate_facts> facts;  // of the last question
    bool sign_on(ssh_profile&) override { return false; }
    ssh::host_key_answer confirm_host_key(std::string_view, int, std::string_view, std::string_view) override {
        ++questions;
        facts.reset();
        return ssh::host_key_answer::cancel;
    }
    ssh::host_key_answer confirm_certified_host_key(std::string_view host, int port, std::string_view type,
                                                    std::string_view fp,
                                                    const ssh::host_certificate_facts& cert) override {
        confirm_host_key(host, port, type, fp);
        facts = cert;
        return ssh::host_key_answer::cancel;
    }
};

std::string pub_line(const fs::path& pub) {
    std::istringstream in(slurp(pub));
    std::string type, b64;
    in >> type >> b64;
    return type + " " + b64;
}

// The host shows a certificate of its ed25519 key; HOME's known_hosts holds the row's lines ({CA}, {CA2} and {KEY}
// stand for the CA's, another CA's and the host key's own "type base64"). A certificate that does not stand falls
// back to its key as a plain host key, which the prompts are asked about (and cancel).
TEST_F(Certificates, HostCertificatesTrustedThroughCertAuthorityLines) {
    const std::string host = "certhost.test";
    const std::uint64_t now = 1700000000;  // November 2023
    const std::string ca = pub_line(dir / "ca_ed25519.pub"), ca2 = pub_line(dir / "ca_ed25519_b.pub"),
                      key = pub_line(dir / "ed25519.pub");
    // A hashed pattern as ssh-keygen -H writes it, marked afterwards (ssh-keygen leaves marked lines unhashed).
    const fs::path hashed_file = dir / "hashed_known_hosts";
    {
        std::ofstream(hashed_file) << host << " " << ca << "\n";
        int st = 0;
        run("ssh-keygen -q -H -f " + hashed_file.string() + " 2>&1", &st);
        ASSERT_EQ(st, 0);
    }
    const std::string hashed = slurp(hashed_file).substr(0, slurp(hashed_file).find(' '));
    ASSERT_EQ(hashed.rfind("|1|", 0), 0u) << hashed;

    using v = ssh::host_trust::verdict;
    struct row {
        const char* what;
        std::string known_hosts;
        std::string options = "-h -n certhost.test,127.0.0.1 -V 20200101000000Z:20300101000000Z";
        int port = 22;
        v verdict = v::trusted;
        int questions = 0;
        std::string said;  // in the message (refused) or the log
    };
    const row rows[] = {
        {.what = "the host's CA", .known_hosts = "@cert-authority *.test " + ca, .said = "accepted (@cert-authority"},
        {.what = "among other lines",
         .known_hosts =
             "other.test " + key + "\n@cert-authority other.test " + ca2 + "\n@cert-authority " + host + ",!x " + ca,
         .said = "on line 3)"},
        {.what = "a hashed pattern", .known_hosts = "@cert-authority " + hashed + " " + ca, .said = "accepted"},
        {.what = "its own port",
         .known_hosts = "@cert-authority [certhost.test]:2222 " + ca,
         .port = 2222,
         .said = "accepted"},
        {.what = "port 22 only",
         .known_hosts = "@cert-authority certhost.test " + ca,
         .port = 2222,
         .verdict = v::cancelled,
         .questions = 1,
         .said = "no @cert-authority line for [certhost.test]:2222"},
        {.what = "another host's CA",
         .known_hosts = "@cert-authority other.test " + ca,
         .verdict = v::cancelled,
         .questions = 1,
         .said = "holds that CA"},
        {.what = "another CA",
         .known_hosts = "@cert-authority *.test " + ca2,
         .verdict = v::cancelled,
         .questions = 1,
         .said = "holds that CA"},
        {.what = "the CA as a plain key of the host is another key",
         .known_hosts = host + " " + ca,
         .verdict = v::refused,
         .said = "THE HOST KEY OF certhost.test HAS CHANGED"},
        {.what = "the CA revoked",
         .known_hosts = "@cert-authority *.test " + ca + "\n@revoked * " + ca,
         .verdict = v::refused,
         .said = "THE CERTIFICATE AUTHORITY OF THE HOST KEY OF certhost.test IS REVOKED"},
        {.what = "the host key revoked",
         .known_hosts = "@revoked nothing.at.all " + key + "\n@cert-authority *.test " + ca,
         .verdict = v::refused,
         .said = "THE HOST KEY OF certhost.test IS REVOKED"},
        {.what = "expired",
         .known_hosts = "@cert-authority *.test " + ca,
         .options = "-h -n certhost.test -V 20100101000000Z:20110101000000Z",
         .verdict = v::cancelled,
         .questions = 1,
         .said = "not accepted: it has expired"},
        {.what = "not yet valid",
         .known_hosts = "@cert-authority *.test " + ca,
         .options = "-h -n certhost.test -V 20350101000000Z:20360101000000Z",
         .verdict = v::cancelled,
         .questions = 1,
         .said = "not accepted: it is not valid yet"},
        {.what = "another principal",
         .known_hosts = "@cert-authority *.test " + ca,
         .options = "-h -n elsewhere.test",
         .verdict = v::cancelled,
         .questions = 1,
         .said = "not accepted: it is not issued for certhost.test"},
        {.what = "no principals",
         .known_hosts = "@cert-authority *.test " + ca,
         .options = "-h",
         .verdict = v::cancelled,
         .questions = 1,
         .said = "not accepted: it names no principal"},
        {.what = "a user certificate",
         .known_hosts = "@cert-authority *.test " + ca,
         .options = "-n certhost.test",
         .verdict = v::cancelled,
         .questions = 1,
         .said = "not accepted: it is a user certificate"},
        {.what = "expired, but the key is known",
         .known_hosts = "@cert-authority *.test " + ca + "\n" + host + " " + key,
         .options = "-h -n certhost.test -V 20100101000000Z:20110101000000Z",
         .said = "not accepted: it has expired"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const fs::path home = dir / "home";
        fs::remove_all(home);
        fs::create_directories(home / ".ssh");
        std::ofstream(home / ".ssh" / "known_hosts") << r.known_hosts << "\n";
        const bytes cert = sign("ed25519", "ca_ed25519", "-I 'host cert' -z 9 " + r.options);
        test_support::scoped_home guard(home.string());
        asking_prompts prompts;
        std::vector<std::string> log;
        const auto t = ssh::decide_host_certificate_trust(host, r.port, cert, now, prompts, log);
        EXPECT_EQ(t.result, r.verdict) << t.message;
        EXPECT_EQ(prompts.questions, r.questions);
        // A question about the certified key carries the certificate's facts and why it was not enough.
        if (r.questions) {
            ASSERT_TRUE(prompts.facts);
            EXPECT_EQ(prompts.facts->key_id, "host cert");
            EXPECT_EQ(prompts.facts->serial, 9u);
            EXPECT_EQ(prompts.facts->ca_fingerprint, ssh::host_key_fingerprint(pub_file_blob(dir / "ca_ed25519.pub")));
            ASSERT_FALSE(prompts.facts->problem.empty());
            EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& l) {
                return l.find(prompts.facts->problem) != std::string::npos;
            })) << prompts.facts->problem;
            const std::string q =
                ssh::unknown_host_key_question(host, r.port, "ssh-ed25519", "SHA256:x", &*prompts.facts);
            EXPECT_NE(q.find("certificate (ID \"host cert\", serial 9) signed by the ssh-ed25519 CA"),
                      std::string::npos)
                << q;
        }
        std::string said = t.message;
        for (const auto& l : log) said += "\n" + l;
        EXPECT_NE(said.find(r.said), std::string::npos) << said;
        if (r.verdict != v::refused) {
            EXPECT_NE(said.find("host certificate ID \"host cert\" serial 9 signed by the ssh-ed25519 CA " +
                                ssh::host_key_fingerprint(pub_file_blob(dir / "ca_ed25519.pub"))),
                      std::string::npos)
                << said;
        }
    }
}

// Which hosts have an authority at all (their certificate algorithms go first in the offer): plain lines, other
// hosts' authorities and marked lines without a key type do not count.
TEST_F(Certificates, HostsWithAnAuthority) {
    const std::string ca = pub_line(dir / "ca_ed25519.pub");
    const fs::path file = dir / "authorities";
    std::ofstream(file) << "plain.test " << ca << "\n@cert-authority *.ca.test,!bad.ca.test " << ca
                        << "\n@cert-authority [port.test]:2200 " << ca << "\n@cert-authority lonely.test\n"
                        << "@revoked revoked.test " << pub_line(dir / "ca_ed25519_b.pub") << "\n";
    const std::pair<std::string, int> yes[] = {{"a.ca.test", 22}, {"A.CA.TEST", 22}, {"port.test", 2200}};
    const std::pair<std::string, int> no[] = {{"plain.test", 22},
                                              {"bad.ca.test", 22},
                                              {"port.test", 22},
                                              {"lonely.test", 22},
                                              {"revoked.test", 22}};
    for (const auto& [h, p] : yes) EXPECT_TRUE(ssh::has_cert_authority({file.string()}, h, p)) << h;
    for (const auto& [h, p] : no) EXPECT_FALSE(ssh::has_cert_authority({file.string()}, h, p)) << h;
    // An authority line never vouches for a host key by itself, nor a plain line for an authority.
    const bytes ca_blob = pub_file_blob(dir / "ca_ed25519.pub");
    EXPECT_EQ(ssh::check_host_key({file.string()}, "a.ca.test", 22, "ssh-ed25519", ca_blob).status,
              ssh::host_key_status::unknown);
    EXPECT_EQ(ssh::check_cert_authority({file.string()}, "plain.test", 22, "ssh-ed25519", ca_blob).status,
              ssh::host_key_status::unknown);
    EXPECT_EQ(ssh::check_cert_authority({file.string()}, "a.ca.test", 22, "ssh-ed25519", ca_blob).status,
              ssh::host_key_status::known);
}

// Certificates built field by field (the signature is not checked here): what the reader refuses whatever the CA.
TEST(CertificateFields, MalformedFieldsRefused) {
    struct row {
        const char* what;
        std::string type = "ssh-ed25519-cert-v01@openssh.com";
        std::uint32_t kind = 1;
        std::vector<std::string> principals = {"alice"};
        bytes critical = {};
        bytes key = bytes(32, 7);
        bool reads = true;
    };
    fields two_options, name_without_data, empty_name;
    two_options.string("a");
    two_options.string(bytes{0, 0, 0, 0});
    two_options.string("b");
    two_options.string(bytes{});
    name_without_data.string("force-command");
    empty_name.string("");
    empty_name.string(bytes{});
    std::vector<std::string> many(ssh::certificate_max_principals + 1, "p");
    std::vector<std::string> most(ssh::certificate_max_principals, "p");
    row rows[] = {
        {.what = "well formed"},
        {.what = "options in pairs", .critical = two_options.out},
        {.what = "an option name without its data", .critical = name_without_data.out, .reads = false},
        {.what = "an option without a name", .critical = empty_name.out, .reads = false},
        {.what = "kind 3", .kind = 3, .reads = false},
        {.what = "kind 0", .kind = 0, .reads = false},
        {.what = "the most principals", .principals = most},
        {.what = "one principal too many", .principals = many, .reads = false},
        {.what = "a point of 31 bytes", .key = bytes(31, 7), .reads = false},
        {.what = "a type without a row", .type = "ssh-dss-cert-v01@openssh.com", .reads = false},
        {.what = "a plain type", .type = "ssh-ed25519", .reads = false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        fields f, principals;
        for (const auto& p : r.principals) principals.string(p);
        f.string(r.type);
        f.string("nonce nonce nonce nonce nonce!!!");
        f.string(r.key);
        f.u64(42);
        f.u32(r.kind);
        f.string("id");
        f.string(principals.out);
        f.u64(0);
        f.u64(~std::uint64_t(0));
        f.string(r.critical);
        f.string(bytes{});
        f.string(bytes{});
        f.string(bytes{0, 0, 0, 3, 'f', 'o', 'o'});
        f.string(bytes{0, 0, 0, 3, 'f', 'o', 'o', 0, 0, 0, 0});
        const auto c = ssh::parse_certificate(f.out);
        ASSERT_EQ(c.has_value(), r.reads);
        if (!c) continue;
        EXPECT_EQ(c->principals, r.principals);
        EXPECT_EQ(c->signature_algorithm, "foo");
        EXPECT_FALSE(c->signature_valid);
    }
}

TEST(CertificateFields, ProblemsAreNamed) {
    ssh::certificate good;
    good.kind = ssh::certificate_kind::host;
    good.principals = {"127.0.0.1", "localhost"};
    good.valid_after = jan_2020;
    good.valid_before = jan_2030;
    good.signature_valid = true;
    struct row {
        const char* what;
        void (*damage)(ssh::certificate&);
        std::uint64_t now;
        std::string name;
        std::string problem;  // empty: accepted
    };
    const row rows[] = {
        {"good", [](ssh::certificate&) {}, jan_2020 + 5, "localhost", ""},
        {"first second", [](ssh::certificate&) {}, jan_2020, "127.0.0.1", ""},
        {"last second", [](ssh::certificate&) {}, jan_2030 - 1, "localhost", ""},
        {"before", [](ssh::certificate&) {}, jan_2020 - 1, "localhost", "it is not valid yet"},
        {"at valid_before", [](ssh::certificate&) {}, jan_2030, "localhost", "it has expired"},
        {"another host", [](ssh::certificate&) {}, jan_2020 + 5, "127.0.0.2", "it is not issued for 127.0.0.2"},
        {"a prefix of a principal", [](ssh::certificate&) {}, jan_2020 + 5, "local", "it is not issued for local"},
        {"no principals", [](ssh::certificate& c) { c.principals.clear(); }, jan_2020 + 5, "localhost",
         "it names no principal"},
        {"a user certificate", [](ssh::certificate& c) { c.kind = ssh::certificate_kind::user; }, jan_2020 + 5,
         "localhost", "it is a user certificate, not a host certificate"},
        {"a bad signature", [](ssh::certificate& c) { c.signature_valid = false; }, jan_2020 + 5, "localhost",
         "its certificate authority's signature does not verify"},
        {"a critical option",
         [](ssh::certificate& c) {
             c.critical_options.push_back({"force-command", {}});
         },
         jan_2020 + 5, "localhost", "it carries the critical option force-command, which hosts do not have"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        ssh::certificate c = good;
        r.damage(c);
        EXPECT_EQ(ssh::certificate_problem(c, ssh::certificate_kind::host, r.name, r.now), r.problem);
    }
}

TEST(CertificateFields, AlgorithmNamesForSignatures) {
    const std::pair<const char*, const char*> rows[] = {
        {"rsa-sha2-512", "rsa-sha2-512-cert-v01@openssh.com"},
        {"rsa-sha2-256", "rsa-sha2-256-cert-v01@openssh.com"},
        {"ssh-rsa", "ssh-rsa-cert-v01@openssh.com"},
        {"ecdsa-sha2-nistp384", "ecdsa-sha2-nistp384-cert-v01@openssh.com"},
        {"ssh-dss", ""},
    };
    for (const auto& [plain, cert] : rows) {
        EXPECT_EQ(ssh::certificate_algorithm(plain), cert) << plain;
        if (*cert) {
            EXPECT_EQ(ssh::certificate_signature_algorithm(cert), plain) << cert;
        }
    }
    EXPECT_EQ(ssh::certificate_signature_algorithm("ssh-ed25519"), "");
    // Every name offered for host keys is one whose signature algorithm is known.
    const std::string offered = ssh::certificate_host_key_algorithms();
    std::string_view offer = offered;
    int names = 0;
    while (!offer.empty()) {
        const auto comma = offer.find(',');
        EXPECT_FALSE(ssh::certificate_signature_algorithm(offer.substr(0, comma)).empty()) << offer.substr(0, comma);
        ++names;
        offer.remove_prefix(comma == std::string_view::npos ? offer.size() : comma + 1);
    }
    EXPECT_EQ(names, 7);
}

}  // namespace
