// Integration tests skip themselves when a real peer (sshd, telnetd, socat, CUPS, IPv6 loopback, ...) is missing,
// which suits a developer's quick run. The full run sets QTELNET_REQUIRE_PEERS=1: then any skipped test fails the
// program, so a green run always means the real-peer tests ran.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

bool peers_required() {
    const char* v = std::getenv("QTELNET_REQUIRE_PEERS");
    return v && *v && std::string_view(v) != "0";
}

class skipped_means_failed final : public testing::EmptyTestEventListener {
    void OnTestProgramEnd(const testing::UnitTest& unit) override {
        if (unit.skipped_test_count() == 0 || !peers_required()) return;
        for (int i = 0; i < unit.total_test_suite_count(); ++i) {
            const testing::TestSuite* suite = unit.GetTestSuite(i);
            for (int j = 0; j < suite->total_test_count(); ++j) {
                const testing::TestInfo* t = suite->GetTestInfo(j);
                if (t->result()->Skipped())
                    std::fprintf(stderr, "FAILED (QTELNET_REQUIRE_PEERS): %s.%s was skipped\n", suite->name(),
                                 t->name());
            }
        }
        std::fflush(nullptr);
        std::_Exit(1);
    }
};

[[maybe_unused]] const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new skipped_means_failed);
    return true;
}();

}  // namespace
