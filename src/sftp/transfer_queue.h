#pragma once
// Transfers over one sftp::client, each a job with its state, progress and own outcome: a job starts when a place
// is free (`at_once` running or being looked at; 0 for no bound), one that fails or is cancelled leaves the others
// to go on, and a cancelled or failed job may be resumed. The File Transfer window and vtsession's --get/--put
// run their jobs here.
//
// Jobs belong to the caller, which may extend the record; the queue keeps a pointer from add() until forget().
// Before a job first starts, the `check` hook may look at its target (and ask the user): it then calls start() or
// end_unstarted(). Reports of a client no longer in use, or of a queue that is gone, are dropped; a transfer's
// end is still taken after set_client() dropped its client, since a lost client fails its transfers then.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sftp/client.h"

namespace sftp {

enum class transfer_state { waiting, running, done, failed, cancelled, skipped };

struct transfer_job {
    static constexpr std::size_t max_skipped_kept = 50;

    bool upload = false;
    bool folder = false;        // a remote folder downloaded whole
    std::string remote, local;  // full paths
    transfer_state st = transfer_state::waiting;
    bool resume_next = false;  // the next start continues what is there
    bool cancel_asked = false;
    bool checking = false;  // the check hook has it: it holds a place
    bool checked = false;   // a later start (a resume) goes straight on
    std::uint64_t done = 0;
    std::optional<std::uint64_t> total;
    double rate = 0;
    std::string message;                                       // why it failed or was skipped
    std::vector<std::pair<std::string, std::string>> skipped;  // a folder's entries not fetched (remote, why)
    client::transfer_id id = 0;
    unsigned run = 0;          // each start counts; a report of an earlier run is stale
    std::uint64_t serial = 0;  // how the client's reports find the job, which forget() may have taken

    bool ended() const { return st != transfer_state::waiting && st != transfer_state::running; }
};

class transfer_queue {
public:
    struct hooks {
        std::function<void(transfer_job&)> check;                        // empty: jobs start straight away
        std::function<transfer_options(const transfer_job&)> options;    // at each start; resume comes from the job
        std::function<void(transfer_job&)> changed;                      // state, progress or skipped entries
        std::function<void(transfer_job&, const progress&)> progressed;  // each report, after changed
        // Each entry a folder download leaves out (the job keeps only the first ones), after changed.
        std::function<void(transfer_job&, const std::string& remote, const std::string& why)> skipped;
        std::function<void(transfer_job&, const outcome&)> ended;  // a started transfer ended (after changed)
    };

    explicit transfer_queue(std::size_t at_once = 0) : at_once_(at_once) {}
    ~transfer_queue();  // running transfers are cancelled, their reports dropped
    transfer_queue(const transfer_queue&) = delete;
    transfer_queue& operator=(const transfer_queue&) = delete;

    void set_hooks(hooks h) { hooks_ = std::move(h); }
    // The client jobs run on; null: none (the waiting ones wait). A change fails the jobs still running on the old
    // one and makes its later reports stale.
    void set_client(client* c);
    client* current_client() const { return client_; }

    void add(transfer_job& j);
    // From the check hook: the job runs now (also again, after the hook renamed its target and checked again).
    void start(transfer_job& j);
    // From the check hook: the job ends without running (skipped, or failed with `why`).
    void end_unstarted(transfer_job& j, transfer_state how, std::string why);
    // A running transfer stops (its partial file kept) and ends cancelled; a waiting job ends cancelled at once.
    void cancel(transfer_job& j);
    // A failed or cancelled job goes again, continuing what is there.
    void resume(transfer_job& j);
    // An ended job leaves the queue; the caller may then drop it.
    void forget(const transfer_job& j);

    const std::vector<transfer_job*>& jobs() const { return jobs_; }
    // Nothing waits or runs.
    bool idle() const;

private:
    void pump();
    void launch(transfer_job& j);
    void finished(transfer_job& j, const outcome& o);
    std::size_t held() const;
    transfer_job* find(std::uint64_t serial) const;
    void changed(transfer_job& j) {
        if (hooks_.changed) hooks_.changed(j);
    }

    std::size_t at_once_;
    hooks hooks_;
    client* client_ = nullptr;
    unsigned generation_ = 0;  // a new client (or none) makes older reports stale
    std::vector<transfer_job*> jobs_;
    std::uint64_t next_serial_ = 1;
    bool pumping_ = false, pump_again_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace sftp
