// The transfer queue over the in-process server of fake_server.h: jobs run one after another (or side by side),
// each ends on its own, a cancelled job leaves the rest going and resumes, the check hook may skip a job, and a
// client taken away fails what ran on it.
#include <gtest/gtest.h>

#include <deque>
#include <random>

#include "fake_server.h"
#include "sftp/transfer_queue.h"

using namespace sftp_test;

namespace {

std::string pattern(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

struct queue_fixture : ::testing::Test {
    fake_server server;
    memory_files local;
    loop_transport link{server};
    std::unique_ptr<client> c;
    std::deque<transfer_job> jobs;
    std::vector<std::string> log;  // "start NAME" and "end NAME STATE", in order
    std::size_t most_running = 0;
    std::map<std::uint64_t, unsigned> seen;  // the run each job was last seen running

    void SetUp() override {
        c = std::make_unique<client>(link, local);
        std::optional<outcome> ready;
        c->start([&](const outcome& o) { ready = o; });
        run(*c, link, server);
        ASSERT_TRUE(ready && ready->ok);
    }
    static std::string name(const transfer_job& j) { return j.remote.substr(j.remote.rfind('/') + 1); }
    transfer_queue::hooks watching(transfer_queue& q) {
        transfer_queue::hooks h;
        h.changed = [this, &q](transfer_job& j) {
            std::size_t running = 0;
            for (const transfer_job* o : q.jobs()) running += o->st == transfer_state::running;
            most_running = std::max(most_running, running);
            if (j.st == transfer_state::running && std::exchange(seen[j.serial], j.run) != j.run)
                log.push_back("start " + name(j));
        };
        h.ended = [this](transfer_job& j, const outcome&) {
            static const char* names[] = {"waiting", "running", "done", "failed", "cancelled", "skipped"};
            log.push_back("end " + name(j) + " " + names[int(j.st)]);
        };
        return h;
    }
    transfer_job& download(const std::string& remote) {
        transfer_job& j = jobs.emplace_back();
        j.remote = remote;
        j.local = "/l/" + remote.substr(remote.rfind('/') + 1);
        return j;
    }
};

}  // namespace

TEST_F(queue_fixture, JobsRunOneAfterAnotherAndAFailureLeavesTheRestGoing) {
    struct row {
        const char* what;
        std::size_t at_once;
        std::vector<std::string> files;  // "-" before a name: not on the server
        std::vector<std::string> expected_log;
        std::size_t most_running;
    };
    const std::vector<row> rows = {
        {"one at a time, in order",
         1,
         {"a", "b", "c"},
         {"start a", "end a done", "start b", "end b done", "start c", "end c done"},
         1},
        {"a missing file fails alone",
         1,
         {"a", "-gone", "c"},
         {"start a", "end a done", "start gone", "end gone failed", "start c", "end c done"},
         1},
        {"two at a time",
         2,
         {"a", "b", "c"},
         {"start a", "start b", "end a done", "start c", "end b done", "end c done"},
         2},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        jobs.clear();
        log.clear();
        most_running = 0;
        seen.clear();
        local.files.clear();
        transfer_queue q(r.at_once);
        q.set_hooks(watching(q));
        q.set_client(c.get());
        unsigned seed = 1;
        for (std::string f : r.files) {
            const bool missing = f[0] == '-';
            if (missing) f.erase(0, 1);
            if (!missing) server.files["/d/" + f] = pattern(200 * 1024, seed++);
            q.add(download("/d/" + f));
        }
        run(*c, link, server);
        EXPECT_EQ(log, r.expected_log);
        EXPECT_EQ(most_running, r.most_running);
        EXPECT_TRUE(q.idle());
        for (const transfer_job& j : jobs) {
            if (j.st == transfer_state::done) {
                EXPECT_EQ(local.files[j.local], server.files[j.remote]);
            } else {
                EXPECT_FALSE(j.message.empty());
            }
        }
    }
}

TEST_F(queue_fixture, ACancelledJobLetsTheNextStartAndResumesWhereItStopped) {
    server.files["/d/big"] = pattern(4 << 20, 7);
    server.files["/d/small"] = pattern(10000, 8);
    transfer_queue q(1);
    transfer_queue::hooks h = watching(q);
    std::uint64_t cancelled_at = 0;
    h.changed = [&, inner = h.changed](transfer_job& j) {
        inner(j);
        if (name(j) == "big" && j.st == transfer_state::running && j.done > (1 << 20) && !cancelled_at) {
            cancelled_at = j.done;
            q.cancel(j);
        }
    };
    q.set_hooks(h);
    q.set_client(c.get());
    transfer_job& big = download("/d/big");
    transfer_job& small = download("/d/small");
    q.add(big);
    q.add(small);
    run(*c, link, server);
    ASSERT_GT(cancelled_at, 0u);
    EXPECT_EQ(big.st, transfer_state::cancelled);
    EXPECT_EQ(small.st, transfer_state::done);
    EXPECT_EQ(local.files["/l/small"], server.files["/d/small"]);
    EXPECT_FALSE(local.files.count("/l/big"));

    q.resume(big);
    run(*c, link, server);
    EXPECT_EQ(big.st, transfer_state::done) << big.message;
    EXPECT_EQ(local.files["/l/big"], server.files["/d/big"]);
    // The resumed run did not fetch again what the cancelled one kept.
    EXPECT_LT(server.read_bytes_asked, server.files["/d/big"].size() * 2);
}

TEST_F(queue_fixture, TheCheckHoldsAPlaceAndMaySkipAJob) {
    server.files["/d/a"] = pattern(1000, 1);
    server.files["/d/b"] = pattern(1000, 2);
    server.files["/d/c"] = pattern(1000, 3);
    transfer_queue q(1);
    transfer_queue::hooks h = watching(q);
    std::vector<transfer_job*> asked;  // answered later, as a question from the event loop is
    h.check = [&](transfer_job& j) { asked.push_back(&j); };
    q.set_hooks(h);
    q.set_client(c.get());
    for (const char* f : {"/d/a", "/d/b", "/d/c"}) q.add(download(f));
    ASSERT_EQ(asked.size(), 1u);  // the first one's check holds the only place
    q.end_unstarted(*asked[0], transfer_state::skipped, "kept the local file");
    ASSERT_EQ(asked.size(), 2u);
    q.start(*asked[1]);
    EXPECT_EQ(asked.size(), 2u);  // the transfer holds the place now
    run(*c, link, server);
    ASSERT_EQ(asked.size(), 3u);
    q.start(*asked[2]);
    run(*c, link, server);
    EXPECT_EQ(jobs[0].st, transfer_state::skipped);
    EXPECT_EQ(jobs[0].message, "kept the local file");
    EXPECT_FALSE(local.files.count("/l/a"));
    EXPECT_EQ(jobs[1].st, transfer_state::done);
    EXPECT_EQ(jobs[2].st, transfer_state::done);
    EXPECT_EQ(log, (std::vector<std::string>{"start b", "end b done", "start c", "end c done"}));
}

TEST_F(queue_fixture, AClientTakenAwayFailsWhatRanOnItAndItsLaterReportsAreDropped) {
    server.files["/d/big"] = pattern(2 << 20, 4);
    server.files["/d/next"] = pattern(1000, 5);
    transfer_queue q(1);
    q.set_hooks(watching(q));
    q.set_client(c.get());
    transfer_job& big = download("/d/big");
    transfer_job& next = download("/d/next");
    q.add(big);
    q.add(next);
    ASSERT_EQ(big.st, transfer_state::running);
    q.set_client(nullptr);
    EXPECT_EQ(big.st, transfer_state::failed);
    EXPECT_EQ(big.message, "the SFTP channel ended");
    EXPECT_EQ(next.st, transfer_state::waiting);  // no client: it waits for the next one
    run(*c, link, server);                        // the old client's replies still come in
    EXPECT_EQ(big.st, transfer_state::failed);
    EXPECT_EQ(big.done, 0u);

    q.set_client(c.get());
    run(*c, link, server);
    EXPECT_EQ(next.st, transfer_state::done);
    q.forget(big);
    EXPECT_EQ(q.jobs().size(), 1u);
    EXPECT_TRUE(q.idle());
}
