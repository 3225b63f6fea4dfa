// The client's share of each key exchange method in processor time: making our share and computing the secret
// from the host's (the host's own work excluded), and the post-quantum primitives apart (keypair, encapsulation
// as the host does it, decapsulation). bench/ssh/kex_prompt.py gives the whole time to prompt to set these against.
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "crypto/evp.h"
#include "crypto/mlkem768.h"
#include "crypto/sntrup761.h"

namespace {

double cpu_now() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Processor seconds per call, over at least `min_seconds`.
double per_call(const std::function<void()>& fn, double min_seconds = 0.3) {
    fn();
    long calls = 0;
    const double t0 = cpu_now();
    double spent = 0;
    while (spent < min_seconds) {
        fn();
        ++calls;
        spent = cpu_now() - t0;
    }
    return spent / double(calls);
}

using share_ptr = std::unique_ptr<crypto::evp::kex_share>;

// Our share and the secret from a peer's value made once in the same kind.
void row(const char* name, const std::function<share_ptr()>& make) {
    const share_ptr peer = make();
    bool ok = peer != nullptr;
    const double t = per_call([&] {
        const share_ptr ours = make();
        ok = ok && ours && ours->shared(peer->public_value());
    });
    std::printf("%-44s %8.3f ms%s\n", name, t * 1e3, ok ? "" : "   (FAILED)");
}

}  // namespace

int main() {
    namespace ev = crypto::evp;
    std::printf("client side of one exchange, processor time per exchange\n");
    row("curve25519 (X25519)", [] { return ev::make_x25519(); });
    row("ecdh-sha2-nistp256", [] { return ev::make_ecdh(256); });
    row("ecdh-sha2-nistp521", [] { return ev::make_ecdh(521); });
    row("group14 (2048-bit MODP)", [] { return ev::make_modp(14); });
    row("group16 (4096-bit MODP)", [] { return ev::make_modp(16); });
    row("group18 (8192-bit MODP)", [] { return ev::make_modp(18); });
    // Group exchange: the host's group of the size asked for, the exponent twice the keys' strength (aes128: 256
    // bits, 3des: 384, chacha20-poly1305: 1024). Only the length and oddness of p matter to the time.
    struct gex {
        const char* name;
        std::size_t bytes;
        int priv_bits;
    };
    for (const gex& g :
         {gex{"group exchange 3072-bit, aes128-ctr", 384, 256}, gex{"group exchange 7680-bit, 3des-cbc", 960, 384},
          gex{"group exchange 8192-bit, chacha20-poly1305", 1024, 1024}}) {
        std::vector<std::uint8_t> p(g.bytes, 0xc5);
        p[0] = 0xff;
        p.back() |= 1;
        const std::uint8_t two[] = {2};
        row(g.name, [&] { return ev::make_group_share(p, two, g.priv_bits); });
    }

    namespace nt = crypto::sntrup761;
    namespace ml = crypto::mlkem768;
    static std::uint8_t npk[nt::public_key_size], nsk[nt::secret_key_size], nct[nt::ciphertext_size], nss[32];
    static std::uint8_t mpk[ml::public_key_size], msk[ml::secret_key_size], mct[ml::ciphertext_size], mss[32];
    nt::keypair(npk, nsk);
    nt::enc(nct, nss, npk);
    ml::keypair(mpk, msk);
    ml::encaps(mpk, mct, mss);
    const double n_kp = per_call([] { nt::keypair(npk, nsk); });
    const double n_enc = per_call([] { nt::enc(nct, nss, npk); });
    const double n_dec = per_call([] { nt::dec(nss, nct, nsk); });
    const double m_kp = per_call([] { ml::keypair(mpk, msk); });
    const double m_enc = per_call([] { ml::encaps(mpk, mct, mss); });
    const double m_dec = per_call([] { ml::decaps(msk, mct, mss); });
    std::printf("\n%-44s %8.3f ms\n%-44s %8.3f ms (the host's step)\n%-44s %8.3f ms\n", "sntrup761 keypair", n_kp * 1e3,
                "sntrup761 enc", n_enc * 1e3, "sntrup761 dec", n_dec * 1e3);
    std::printf("%-44s %8.3f ms\n%-44s %8.3f ms (the host's step)\n%-44s %8.3f ms\n", "ML-KEM-768 keypair", m_kp * 1e3,
                "ML-KEM-768 encaps", m_enc * 1e3, "ML-KEM-768 decaps", m_dec * 1e3);
    const share_ptr host_x = ev::make_x25519();
    const double x = per_call([&] { (void)ev::make_x25519()->shared(host_x->public_value()); });
    std::printf("%-44s %8.3f ms\n%-44s %8.3f ms\n", "client of sntrup761x25519 (keypair, dec, X25519)",
                (n_kp + n_dec + x) * 1e3, "client of mlkem768x25519 (keypair, decaps, X25519)",
                (m_kp + m_dec + x) * 1e3);
    return 0;
}
