#include "sftp/transfer_queue.h"

#include <algorithm>

namespace sftp {

transfer_queue::~transfer_queue() {
    alive_.reset();  // the cancels below report back at once: those reports must find nothing
    if (!client_) return;
    for (transfer_job* j : jobs_)
        if (j->st == transfer_state::running) client_->cancel(j->id);
}

void transfer_queue::set_client(client* c) {
    // The old client normally failed its transfers before it went (lost()); any it did not are over all the same.
    if (c != client_)
        for (transfer_job* j : jobs_)
            if (j->st == transfer_state::running) {
                ++j->run;
                j->st = transfer_state::failed;
                j->message = "the SFTP channel ended";
            }
    client_ = c;
    ++generation_;
    for (transfer_job* j : jobs_) j->checking = false;  // an answer for the old client is dropped with it
    pump();
}

void transfer_queue::add(transfer_job& j) {
    j.serial = next_serial_++;
    j.st = transfer_state::waiting;
    jobs_.push_back(&j);
    changed(j);
    pump();
}

void transfer_queue::forget(const transfer_job& j) {
    if (!j.ended()) return;
    jobs_.erase(std::remove(jobs_.begin(), jobs_.end(), &j), jobs_.end());
}

bool transfer_queue::idle() const {
    return std::none_of(jobs_.begin(), jobs_.end(), [](const transfer_job* j) { return !j->ended(); });
}

std::size_t transfer_queue::held() const {
    return std::size_t(std::count_if(jobs_.begin(), jobs_.end(), [](const transfer_job* j) {
        return j->st == transfer_state::running || (j->st == transfer_state::waiting && j->checking);
    }));
}

transfer_job* transfer_queue::find(std::uint64_t serial) const {
    for (transfer_job* j : jobs_)
        if (j->serial == serial) return j;
    return nullptr;
}

// Hooks may start, end or add jobs from inside: those calls ask for another round instead of nesting.
void transfer_queue::pump() {
    if (pumping_) {
        pump_again_ = true;
        return;
    }
    pumping_ = true;
    do {
        pump_again_ = false;
        for (std::size_t i = 0; i < jobs_.size() && client_; ++i) {
            if (at_once_ && held() >= at_once_) break;
            transfer_job& j = *jobs_[i];
            if (j.st != transfer_state::waiting || j.checking) continue;
            if (!j.checked && hooks_.check) {
                j.checking = true;
                hooks_.check(j);
            } else {
                launch(j);
            }
        }
    } while (pump_again_);
    pumping_ = false;
}

void transfer_queue::start(transfer_job& j) {
    if (j.ended() || j.st == transfer_state::running) return;
    j.checked = true;
    // The hook's own place becomes the running transfer's.
    if (!client_) {
        j.checking = false;
        return;
    }
    launch(j);
}

void transfer_queue::end_unstarted(transfer_job& j, transfer_state how, std::string why) {
    if (j.st != transfer_state::waiting) return;
    j.checking = false;
    j.checked = true;
    j.st = how;
    j.message = std::move(why);
    changed(j);
    pump();
}

void transfer_queue::launch(transfer_job& j) {
    j.checking = false;
    j.checked = true;
    j.st = transfer_state::running;
    j.cancel_asked = false;
    j.message.clear();
    j.rate = 0;
    j.skipped.clear();
    const unsigned run = ++j.run;
    const std::uint64_t serial = j.serial;
    transfer_options opt = hooks_.options ? hooks_.options(j) : transfer_options{};
    opt.resume = std::exchange(j.resume_next, false);
    std::weak_ptr<bool> alive = alive_;
    const unsigned gen = generation_;
    // The job is looked up each time: forget() may have taken it meanwhile.
    auto current = [this, alive, gen, run, serial]() -> transfer_job* {
        if (alive.expired() || gen != generation_) return nullptr;
        transfer_job* job = find(serial);
        return job && job->run == run ? job : nullptr;
    };
    auto progress = [this, current](const sftp::progress& p) {
        transfer_job* job = current();
        if (!job) return;
        job->done = p.done;
        job->total = p.total;
        job->rate = p.rate;
        changed(*job);
        if (hooks_.progressed) hooks_.progressed(*job, p);
    };
    auto done = [this, alive, run, serial](const outcome& o) {
        if (alive.expired()) return;
        transfer_job* job = find(serial);
        if (job && job->run == run) finished(*job, o);
    };
    changed(j);
    client* c = client_;
    if (j.folder)
        j.id = c->download_folder(j.remote, j.local, opt, progress, done,
                                  [this, current](const std::string& remote, const std::string& why) {
                                      transfer_job* job = current();
                                      if (!job) return;
                                      if (job->skipped.size() < transfer_job::max_skipped_kept)
                                          job->skipped.emplace_back(remote, why);
                                      changed(*job);
                                      if (hooks_.skipped) hooks_.skipped(*job, remote, why);
                                  });
    else if (j.upload)
        j.id = c->upload(j.local, j.remote, opt, progress, done);
    else
        j.id = c->download(j.remote, j.local, opt, progress, done);
}

void transfer_queue::finished(transfer_job& j, const outcome& o) {
    if (j.st != transfer_state::running) return;
    if (o.ok) {
        j.st = transfer_state::done;
        if (j.total) j.done = *j.total;
    } else {
        j.st = j.cancel_asked ? transfer_state::cancelled : transfer_state::failed;
        j.message = o.message;
    }
    changed(j);
    if (hooks_.ended) hooks_.ended(j, o);
    pump();
}

void transfer_queue::cancel(transfer_job& j) {
    if (j.st == transfer_state::running) {
        if (!client_) return;
        j.cancel_asked = true;
        client_->cancel(j.id);
        return;
    }
    if (j.st != transfer_state::waiting) return;
    j.checking = false;
    j.st = transfer_state::cancelled;
    changed(j);
    pump();
}

void transfer_queue::resume(transfer_job& j) {
    if (j.st != transfer_state::failed && j.st != transfer_state::cancelled) return;
    j.resume_next = true;
    j.st = transfer_state::waiting;
    changed(j);
    pump();
}

}  // namespace sftp
