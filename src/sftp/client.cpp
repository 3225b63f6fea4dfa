#include "sftp/client.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <set>

namespace sftp {

namespace {
// Room asked of the transport for a request that carries no file data.
constexpr std::size_t small_request = 1024;

std::string quoted(std::string_view remote) { return "\"" + visible_name(remote) + "\""; }
std::string with_cause(std::string text, const std::string& cause) {
    return cause.empty() ? text : text + ": " + cause;
}

std::string server_said(const reply& r) {
    std::string s(status_text(r.code));
    if (!r.message.empty()) s += " (" + visible_name(r.message.substr(0, 200)) + ")";
    return s;
}

outcome refused(std::string_view what, const reply& r) {
    return outcome::failure(std::string(what) + ": " + server_said(r), r.code);
}

// A folder made locally keeps the remote mode, but its owner may always enter it and write what comes into it.
std::uint32_t folder_mode(std::uint32_t remote) { return (remote & 0777) | 0700; }
}  // namespace

struct client::transfer {
    transfer_id id = 0;
    bool upload = false;
    std::string remote, local, part;
    transfer_options opt;
    progress_fn on_progress;
    done_fn on_done;
    std::unique_ptr<local_file> file;
    std::string handle;
    bool handle_open = false;
    std::optional<std::uint64_t> total;
    std::uint64_t next = 0;                                     // the next offset to ask for or send
    std::uint64_t done = 0;                                     // bytes in place
    std::uint64_t resumed = 0;                                  // where this run started
    std::uint64_t end_seen = ~std::uint64_t(0);                 // a download of unknown size: where the server said EOF
    std::deque<std::pair<std::uint64_t, std::uint32_t>> retry;  // short reads still to fetch
    std::size_t in_flight = 0, in_flight_bytes = 0;
    bool checking = false;  // the last steps (check, close, rename) are running
    std::optional<outcome> error;
    double started = 0;
    attrs remote_attrs;                     // a download's, from FSTAT
    std::optional<local_stat> local_attrs;  // an upload's
};

struct client::folder_job {
    transfer_id id = 0;
    std::string root;
    transfer_options opt;
    progress_fn on_progress;
    done_fn on_done;
    skip_fn on_skip;
    struct item {
        std::string name, local;
        attrs a;
    };
    // The folders the walk is in, outermost first, each with the entries still to take: depth first, so what is
    // kept is one listing per level, not the whole tree's frontier.
    struct frame {
        std::string remote;
        std::vector<item> items;
        std::size_t next = 0, cost = 0;
    };
    std::vector<frame> stack;
    std::size_t held = 0;  // the frames' cost
    std::size_t skipped = 0;
    std::string first_skip;
    transfer_id current = 0;
    bool cancelled = false;
};

client::client(transport& t, local_files& files, client_options opt) : t_(t), files_(files), opt_(std::move(opt)) {}

client::~client() = default;

double client::now() const {
    if (opt_.now) return opt_.now();
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void client::start(done_fn ready) {
    if (started_) return;
    started_ = true;
    on_ready_ = std::move(ready);
    auto init = request::init();
    t_.send(init.finish());
}

bool client::has_extension(std::string_view name) const {
    return std::any_of(extensions_.begin(), extensions_.end(), [&](const auto& e) { return e.first == name; });
}

void client::post(std::uint32_t id, request& r, reply_fn on_reply) {
    if (!failure_.empty()) {
        on_reply(nullptr);
        return;
    }
    pending_.emplace(id, std::move(on_reply));
    t_.send(r.finish());
}

void client::receive(std::span<const std::uint8_t> bytes) {
    if (!failure_.empty()) return;
    if (!rx_.feed(bytes)) return fail_all(rx_.error());
    while (failure_.empty()) {
        const auto packet = rx_.next();
        if (!packet) break;
        handle_packet(*packet);
    }
    if (failure_.empty() && !rx_.error().empty()) fail_all(rx_.error());
}

void client::handle_packet(std::span<const std::uint8_t> packet) {
    if (!version_seen_) {
        version_seen_ = true;
        return got_version(packet);
    }
    std::string why;
    const auto r = read_reply(packet, &why);
    if (!r) return fail_all(why);
    const auto it = pending_.find(r->id);
    if (it == pending_.end())
        return fail_all("the SFTP server answered request " + std::to_string(r->id) + ", which was never sent");
    reply_fn fn = std::move(it->second);
    pending_.erase(it);
    fn(&*r);
}

void client::got_version(std::span<const std::uint8_t> packet) {
    const auto v = read_version(packet);
    if (!v) return fail_all("the SFTP server's VERSION is malformed");
    if (v->version < protocol_version)
        return fail_all("the SFTP server speaks version " + std::to_string(v->version) + "; this client needs 3");
    extensions_ = v->extensions;
    read_chunk_ = write_chunk_ = opt_.default_chunk;
    if (!has_extension("limits@openssh.com")) return become_ready();
    const std::uint32_t id = new_id();
    request rq(SSH_FXP_EXTENDED, id);
    rq.string("limits@openssh.com");
    post(id, rq, [this](const reply* r) {
        if (!r) return;
        if (r->type == SSH_FXP_EXTENDED_REPLY) {
            reader rd(r->bytes);
            const auto p = rd.u64(), rl = rd.u64(), wl = rd.u64(), h = rd.u64();
            if (!rd.ok()) return fail_all("the SFTP server's limits@openssh.com reply is malformed");
            limits_ = {*p, *rl, *wl, *h};
            // Within what the server takes, what our reassembly takes, and room for the header in its packet.
            auto pick = [&](std::uint64_t said) {
                std::uint64_t c = said ? said : opt_.default_chunk;
                if (limits_.max_packet > 1024) c = std::min<std::uint64_t>(c, limits_.max_packet - 1024);
                c = std::min<std::uint64_t>(c, opt_.max_chunk);
                return static_cast<std::uint32_t>(std::max<std::uint64_t>(c, 512));
            };
            read_chunk_ = pick(limits_.max_read);
            write_chunk_ = pick(limits_.max_write);
        }
        become_ready();
    });
}

void client::become_ready() {
    ready_ = true;
    if (done_fn f = std::move(on_ready_)) f(outcome{});
}

void client::fail_all(std::string why) {
    if (!failure_.empty()) return;
    failure_ = std::move(why);
    auto pending = std::move(pending_);
    pending_.clear();
    if (done_fn f = std::move(on_ready_)) f(outcome::failure(failure_));
    for (auto& [id, fn] : pending) fn(nullptr);
    // Transfers waiting for room rather than a reply end here.
    std::vector<transfer_id> ids;
    for (const auto& [id, t] : transfers_) ids.push_back(id);
    for (const transfer_id id : ids)
        if (const auto it = transfers_.find(id); it != transfers_.end())
            finish(*it->second, outcome::failure(failure_));
}

void client::lost(std::string_view why) { fail_all(std::string(why)); }

void client::writable() { pump_all(); }

void client::pump_all() {
    if (pumping_) return;
    pumping_ = true;
    std::vector<transfer_id> ids;
    for (const auto& [id, t] : transfers_) ids.push_back(id);
    for (const transfer_id id : ids) {
        const auto it = transfers_.find(id);
        if (it != transfers_.end() && !it->second->error) settle(*it->second);
    }
    pumping_ = false;
}

client::reply_fn client::status_reply(std::string what, done_fn done) {
    return [this, what = std::move(what), done = std::move(done)](const reply* r) {
        if (!r) return done(outcome::failure(failure_));
        if (r->type != SSH_FXP_STATUS)
            return fail_all("the SFTP server answered " + what + " with reply type " + std::to_string(r->type));
        if (r->code != SSH_FX_OK) return done(refused(what, *r));
        done(outcome{});
    };
}

void client::close_handle(const std::string& handle, std::function<void(const outcome&)> done) {
    const std::uint32_t id = new_id();
    request rq(SSH_FXP_CLOSE, id);
    rq.string(handle);
    post(id, rq, status_reply("close", std::move(done)));
}

// ----- single requests -----

void client::realpath(const std::string& path, std::function<void(const outcome&, const std::string&)> done) {
    const std::uint32_t id = new_id();
    request rq(SSH_FXP_REALPATH, id);
    rq.string(path);
    post(id, rq, [this, path, done = std::move(done)](const reply* r) {
        if (!r) return done(outcome::failure(failure_), {});
        if (r->type == SSH_FXP_STATUS) return done(refused("realpath " + quoted(path), *r), {});
        if (r->type != SSH_FXP_NAME || r->names.size() != 1)
            return fail_all("the SFTP server answered realpath with something other than one name");
        done(outcome{}, std::string(r->names[0].name));
    });
}

void client::stat(const std::string& path, bool follow, std::function<void(const outcome&, const attrs&)> done) {
    const std::uint32_t id = new_id();
    request rq(follow ? SSH_FXP_STAT : SSH_FXP_LSTAT, id);
    rq.string(path);
    post(id, rq, [this, path, done = std::move(done)](const reply* r) {
        if (!r) return done(outcome::failure(failure_), {});
        if (r->type == SSH_FXP_STATUS) return done(refused("stat " + quoted(path), *r), {});
        if (r->type != SSH_FXP_ATTRS) return fail_all("the SFTP server answered stat with something other than ATTRS");
        done(outcome{}, r->a);
    });
}

void client::mkdir(const std::string& path, done_fn done, std::optional<std::uint32_t> mode) {
    const std::uint32_t id = new_id();
    request rq(SSH_FXP_MKDIR, id);
    attrs a;
    if (mode) {
        a.flags = SSH_FILEXFER_ATTR_PERMISSIONS;
        a.permissions = *mode & 0777;
    }
    rq.string(path).attributes(a);
    post(id, rq, status_reply("mkdir " + quoted(path), std::move(done)));
}

void client::rmdir(const std::string& path, done_fn done) {
    const std::uint32_t id = new_id();
    request rq(SSH_FXP_RMDIR, id);
    rq.string(path);
    post(id, rq, status_reply("rmdir " + quoted(path), std::move(done)));
}

void client::remove(const std::string& path, done_fn done) {
    const std::uint32_t id = new_id();
    request rq(SSH_FXP_REMOVE, id);
    rq.string(path);
    post(id, rq, status_reply("remove " + quoted(path), std::move(done)));
}

void client::rename(const std::string& from, const std::string& to, done_fn done) {
    const std::uint32_t id = new_id();
    const bool posix = has_extension("posix-rename@openssh.com");
    request rq(posix ? SSH_FXP_EXTENDED : SSH_FXP_RENAME, id);
    if (posix) rq.string("posix-rename@openssh.com");
    rq.string(from).string(to);
    post(id, rq, status_reply("rename " + quoted(from), std::move(done)));
}

void client::setstat(const std::string& path, const attrs& a, done_fn done) {
    const std::uint32_t id = new_id();
    request rq(SSH_FXP_SETSTAT, id);
    rq.string(path).attributes(a);
    post(id, rq, status_reply("setstat " + quoted(path), std::move(done)));
}

void client::statvfs(const std::string& path, std::function<void(const outcome&, const vfs_info&)> done) {
    if (!has_extension("statvfs@openssh.com"))
        return done(outcome::failure("the server does not offer statvfs@openssh.com", SSH_FX_OP_UNSUPPORTED), {});
    const std::uint32_t id = new_id();
    request rq(SSH_FXP_EXTENDED, id);
    rq.string("statvfs@openssh.com").string(path);
    post(id, rq, [this, path, done = std::move(done)](const reply* r) {
        if (!r) return done(outcome::failure(failure_), {});
        if (r->type == SSH_FXP_STATUS) return done(refused("statvfs " + quoted(path), *r), {});
        reader rd(r->bytes);
        vfs_info v;
        for (std::uint64_t* f : {&v.bsize, &v.frsize, &v.blocks, &v.bfree, &v.bavail, &v.files, &v.ffree, &v.favail,
                                 &v.fsid, &v.flag, &v.namemax})
            *f = rd.u64().value_or(0);
        if (r->type != SSH_FXP_EXTENDED_REPLY || !rd.ok() || rd.remaining() != 0)
            return fail_all("the SFTP server's statvfs@openssh.com reply is malformed");
        done(outcome{}, v);
    });
}

void client::list(const std::string& path, std::function<void(const outcome&, std::vector<dir_entry>)> done) {
    struct job {
        std::string path, handle;
        std::vector<dir_entry> entries;
        std::size_t bytes = 0, received = 0;
        std::function<void(const outcome&, std::vector<dir_entry>)> done;
    };
    auto j = std::make_shared<job>();
    j->path = path;
    j->done = std::move(done);
    // Ends the listing: the handle is closed first when one is open.
    auto end = std::make_shared<std::function<void(outcome)>>();
    *end = [this, j](outcome o) {
        if (j->handle.empty() || !failure_.empty())
            return j->done(o, o.ok ? std::move(j->entries) : std::vector<dir_entry>{});
        close_handle(j->handle, [j, o](const outcome& closed) {
            const outcome last = o.ok && !closed.ok ? closed : o;
            j->done(last, last.ok ? std::move(j->entries) : std::vector<dir_entry>{});
        });
    };
    auto more = std::make_shared<std::function<void()>>();
    // The function holds itself only weakly: the request in flight keeps it, so a listing that ends frees it.
    *more = [this, j, end, self = std::weak_ptr(more)] {
        auto more = self.lock();
        const std::uint32_t id = new_id();
        request rq(SSH_FXP_READDIR, id);
        rq.string(j->handle);
        post(id, rq, [this, j, end, more](const reply* r) {
            if (!r) return j->done(outcome::failure(failure_), {});
            if (r->type == SSH_FXP_STATUS) {
                if (r->code == SSH_FX_EOF) return (*end)(outcome{});
                return (*end)(refused("list " + quoted(j->path), *r));
            }
            if (r->type != SSH_FXP_NAME)
                return fail_all("the SFTP server answered READDIR with reply type " + std::to_string(r->type));
            // "." and ".." count too: a server that sends nothing else must still meet the bound.
            for (const name_entry& e : r->names) {
                j->bytes += e.name.size() + e.longname.size() + 64;
                if (++j->received > opt_.max_listing || j->bytes > 64u * 1024 * 1024)
                    return (*end)(outcome::failure("the listing of " + quoted(j->path) + " was stopped after " +
                                                   std::to_string(j->received - 1) +
                                                   " entries: the server sent more than this client takes"));
                if (e.name == "." || e.name == "..") continue;
                j->entries.push_back({std::string(e.name), std::string(e.longname), e.a});
            }
            if (r->names.empty()) return (*end)(outcome::failure("the server sent an empty listing reply"));
            (*more)();
        });
    };
    const std::uint32_t id = new_id();
    request rq(SSH_FXP_OPENDIR, id);
    rq.string(path);
    post(id, rq, [this, j, end, more](const reply* r) {
        if (!r) return j->done(outcome::failure(failure_), {});
        if (r->type == SSH_FXP_STATUS) return j->done(refused("list " + quoted(j->path), *r), {});
        if (r->type != SSH_FXP_HANDLE)
            return fail_all("the SFTP server answered OPENDIR with reply type " + std::to_string(r->type));
        j->handle.assign(reinterpret_cast<const char*>(r->bytes.data()), r->bytes.size());
        (*more)();
    });
}

// ----- transfers -----

client::transfer& client::add_transfer(bool upload, progress_fn progress, done_fn done) {
    auto t = std::make_unique<transfer>();
    t->id = next_transfer_++;
    t->upload = upload;
    t->on_progress = std::move(progress);
    t->on_done = std::move(done);
    t->started = now();
    transfer& ref = *t;
    transfers_.emplace(ref.id, std::move(t));
    return ref;
}

void client::finish(transfer& t, const outcome& o) {
    // Taken out first: the callback may start new transfers.
    const auto it = transfers_.find(t.id);
    if (it == transfers_.end()) return;
    std::unique_ptr<transfer> owned = std::move(it->second);
    transfers_.erase(it);
    owned->file.reset();
    if (owned->on_done) owned->on_done(o);
}

void client::report(transfer& t) {
    if (!t.on_progress) return;
    progress p;
    p.done = t.done;
    p.total = t.total;
    p.resumed_from = t.resumed;
    const double dt = now() - t.started;
    p.rate = dt > 0 ? double(t.done - t.resumed) / dt : 0;
    t.on_progress(p);
}

void client::stop(transfer& t, outcome why) {
    if (!t.error) t.error = std::move(why);
}

void client::cancel(transfer_id id) {
    if (const auto f = folders_.find(id); f != folders_.end()) {
        f->second->cancelled = true;
        id = f->second->current;
    }
    const auto it = transfers_.find(id);
    if (it != transfers_.end()) {
        stop(*it->second, outcome::failure("cancelled"));
        if (it->second->in_flight == 0 && !it->second->checking) settle(*it->second);
    }
}

// After each reply, on errors and when the transport has room: more requests, or once nothing is in flight, the
// last steps (or the handle closed and the end told).
void client::settle(transfer& t) {
    if (t.error) {
        if (t.in_flight > 0 || t.checking) return;
        t.checking = true;
        const transfer_id id = t.id;
        if (!t.handle_open || !failure_.empty()) return finish(t, *t.error);
        t.handle_open = false;
        return close_handle(t.handle, [this, id](const outcome&) {
            if (const auto it = transfers_.find(id); it != transfers_.end()) finish(*it->second, *it->second->error);
        });
    }
    if (t.checking || !t.handle_open || !t.file) return;
    const transfer_id id = t.id;
    if (t.upload)
        ul_pump(t);
    else
        dl_pump(t);
    const auto it = transfers_.find(id);
    if (it == transfers_.end()) return;
    if (t.error) return settle(t);
    if (t.in_flight > 0) return;
    if (t.upload) {
        if (t.next >= *t.total) ul_check(t);
        return;
    }
    const bool all_asked = t.total ? t.next >= *t.total : t.end_seen != ~std::uint64_t(0);
    if (!all_asked || !t.retry.empty()) return;  // waiting for room
    t.checking = true;
    // Every byte is here: the size must be what the server said, then the file goes under its name.
    const std::uint64_t expected = t.total ? *t.total : t.end_seen;
    const auto have = t.file->size();
    if (!have || *have != expected) {
        t.checking = false;
        stop(t, outcome::failure("the local file " + t.part + " holds " + std::to_string(have.value_or(0)) +
                                 " bytes, not the " + std::to_string(expected) + " of " + quoted(t.remote)));
        return settle(t);
    }
    // The remote mode (the umask applied) once whole, never setuid, setgid or sticky; without one, a new file's.
    const attrs& ra = t.remote_attrs;
    if (!t.file->set_mode(ra.has_permissions() ? ra.permissions & 0777 : 0666) ||
        (t.opt.keep_times && (ra.flags & SSH_FILEXFER_ATTR_ACMODTIME) && !t.file->set_times(ra.atime, ra.mtime))) {
        t.checking = false;
        stop(t, outcome::failure(with_cause("cannot set the mode or times of " + t.part, t.file->error())));
        return settle(t);
    }
    if (t.opt.sync) t.file->sync();
    t.file.reset();
    t.handle_open = false;
    close_handle(t.handle, [this, id](const outcome& o) {
        const auto it2 = transfers_.find(id);
        if (it2 == transfers_.end()) return;
        transfer& tt = *it2->second;
        if (!o.ok) return finish(tt, o);
        std::string why;
        if (!files_.rename(tt.part, tt.local, why)) return finish(tt, outcome::failure(why));
        finish(tt, outcome{});
    });
}

client::transfer_id client::download(const std::string& remote, const std::string& local, transfer_options opt,
                                     progress_fn progress, done_fn done) {
    transfer& t = add_transfer(false, std::move(progress), std::move(done));
    t.remote = remote;
    t.local = local;
    t.part = partial_name(local);
    t.opt = opt;
    const transfer_id tid = t.id;
    if (!failure_.empty()) {
        finish(t, outcome::failure(failure_));
        return tid;
    }
    const std::uint32_t id = new_id();
    request rq(SSH_FXP_OPEN, id);
    rq.string(remote).u32(SSH_FXF_READ).attributes({});
    post(id, rq, [this, tid](const reply* r) {
        const auto it = transfers_.find(tid);
        if (it == transfers_.end()) return;
        transfer& t = *it->second;
        if (!r) return finish(t, outcome::failure(failure_));
        if (r->type == SSH_FXP_STATUS) return finish(t, refused("cannot open " + quoted(t.remote), *r));
        if (r->type != SSH_FXP_HANDLE)
            return fail_all("the SFTP server answered OPEN with reply type " + std::to_string(r->type));
        t.handle.assign(reinterpret_cast<const char*>(r->bytes.data()), r->bytes.size());
        t.handle_open = true;
        if (t.error) return settle(t);  // cancelled meanwhile
        const std::uint32_t id2 = new_id();
        request fs(SSH_FXP_FSTAT, id2);
        fs.string(t.handle);
        post(id2, fs, [this, tid](const reply* r2) {
            const auto it2 = transfers_.find(tid);
            if (it2 == transfers_.end()) return;
            transfer& t2 = *it2->second;
            if (!r2) return finish(t2, outcome::failure(failure_));
            if (r2->type == SSH_FXP_ATTRS) {
                t2.remote_attrs = r2->a;
                if (r2->a.has_size()) t2.total = r2->a.size;
                if (r2->a.has_permissions() && !r2->a.is_regular())
                    stop(t2, outcome::failure(quoted(t2.remote) + " is not a regular file"));
            } else if (r2->type != SSH_FXP_STATUS) {
                return fail_all("the SFTP server answered FSTAT with reply type " + std::to_string(r2->type));
            }
            if (t2.error) return settle(t2);
            dl_opened(t2);
        });
    });
    return tid;
}

void client::dl_opened(transfer& t) {
    std::string why;
    const auto have = files_.regular_size(t.part);
    const bool keep = t.opt.resume && have && (!t.total || *have <= *t.total);
    t.file = files_.open_write(t.part, keep, why);
    if (!t.file) {
        stop(t, outcome::failure(why));
        return settle(t);
    }
    // A kept partial file may be older and wider open; the final mode comes only once it is whole.
    if (keep && !t.file->set_mode(0600)) {
        stop(t, outcome::failure(with_cause("cannot set the mode of " + t.part, t.file->error())));
        return settle(t);
    }
    t.resumed = t.next = t.done = keep ? *have : 0;
    if (t.total && t.next > *t.total) t.next = *t.total;
    report(t);
    settle(t);
}

void client::dl_pump(transfer& t) {
    while (!t.error && t.in_flight < opt_.max_requests && t.in_flight_bytes + read_chunk_ <= opt_.max_in_flight &&
           t_.room() >= small_request) {
        std::uint64_t offset;
        std::uint32_t len;
        if (!t.retry.empty()) {
            std::tie(offset, len) = t.retry.front();
            t.retry.pop_front();
        } else {
            if (t.total ? t.next >= *t.total : t.end_seen != ~std::uint64_t(0)) break;
            offset = t.next;
            len = read_chunk_;
            if (t.total) len = static_cast<std::uint32_t>(std::min<std::uint64_t>(len, *t.total - offset));
            t.next += len;
        }
        ++t.in_flight;
        t.in_flight_bytes += len;
        const std::uint32_t id = new_id();
        request rq(SSH_FXP_READ, id);
        rq.string(t.handle).u64(offset).u32(len);
        const transfer_id tid = t.id;
        post(id, rq, [this, tid, offset, len](const reply* r) {
            if (transfer* live = running(tid)) dl_data(*live, offset, len, r);
        });
        if (!failure_.empty() || !transfers_.count(tid)) return;
    }
}

void client::dl_data(transfer& t, std::uint64_t offset, std::uint32_t len, const reply* r) {
    --t.in_flight;
    t.in_flight_bytes -= len;
    if (!r) return finish(t, outcome::failure(failure_));
    if (t.error) return settle(t);
    if (r->type == SSH_FXP_DATA) {
        const std::size_t n = r->bytes.size();
        if (n > len)
            stop(t, outcome::failure("the SFTP server sent " + std::to_string(n) + " bytes for a read of " +
                                     std::to_string(len) + " at offset " + std::to_string(offset) + " of " +
                                     quoted(t.remote)));
        else if (n == 0)
            stop(t, outcome::failure("the SFTP server sent no data for a read at offset " + std::to_string(offset)));
        else if (!t.file->write_at(offset, r->bytes))
            stop(t, outcome::failure(with_cause("cannot write " + t.part, t.file->error())));
        else {
            t.done += n;
            if (n < len) t.retry.emplace_back(offset + n, len - std::uint32_t(n));
            report(t);
        }
    } else if (r->type == SSH_FXP_STATUS && r->code == SSH_FX_EOF) {
        if (t.total && offset < *t.total)
            stop(t, outcome::failure(quoted(t.remote) + " ended at " + std::to_string(offset) + " bytes, before the " +
                                     std::to_string(*t.total) + " its size said"));
        else if (!t.total)
            t.end_seen = std::min(t.end_seen, offset);
    } else if (r->type == SSH_FXP_STATUS) {
        stop(t, refused("read of " + quoted(t.remote) + " failed", *r));
    } else {
        return fail_all("the SFTP server answered READ with reply type " + std::to_string(r->type));
    }
    // A download of unknown size reads on until the end; what was asked for past it counts for nothing.
    if (!t.total && t.end_seen != ~std::uint64_t(0) && t.next > t.end_seen) t.next = t.end_seen;
    settle(t);
}

client::transfer_id client::upload(const std::string& local, const std::string& remote, transfer_options opt,
                                   progress_fn progress, done_fn done) {
    transfer& t = add_transfer(true, std::move(progress), std::move(done));
    t.remote = remote;
    t.local = local;
    t.opt = opt;
    const transfer_id tid = t.id;
    std::string why;
    t.file = files_.open_read(local, why);
    if (!t.file) {
        finish(t, outcome::failure(why));
        return tid;
    }
    t.total = t.file->size();
    t.local_attrs = t.file->stat();
    if (!t.total) {
        finish(t, outcome::failure("cannot read the size of " + local));
        return tid;
    }
    if (!failure_.empty()) {
        finish(t, outcome::failure(failure_));
        return tid;
    }
    auto open = [this, tid](std::uint64_t from, bool truncate) {
        const auto it = transfers_.find(tid);
        if (it == transfers_.end()) return;
        transfer& t = *it->second;
        t.resumed = t.next = t.done = from;
        const std::uint32_t id = new_id();
        request rq(SSH_FXP_OPEN, id);
        // A new file is made with its mode from the start, so it is never more open than the local one.
        attrs a;
        if (t.local_attrs) {
            a.flags = SSH_FILEXFER_ATTR_PERMISSIONS;
            a.permissions = t.local_attrs->mode & 0777;
        }
        rq.string(t.remote)
            .u32(SSH_FXF_WRITE | SSH_FXF_CREAT | (truncate ? std::uint32_t(SSH_FXF_TRUNC) : 0u))
            .attributes(a);
        post(id, rq, [this, tid](const reply* r) {
            const auto it2 = transfers_.find(tid);
            if (it2 == transfers_.end()) return;
            transfer& t2 = *it2->second;
            if (!r) return finish(t2, outcome::failure(failure_));
            if (r->type == SSH_FXP_STATUS) return finish(t2, refused("cannot create " + quoted(t2.remote), *r));
            if (r->type != SSH_FXP_HANDLE)
                return fail_all("the SFTP server answered OPEN with reply type " + std::to_string(r->type));
            t2.handle.assign(reinterpret_cast<const char*>(r->bytes.data()), r->bytes.size());
            t2.handle_open = true;
            if (t2.error) return settle(t2);
            ul_opened(t2);
        });
    };
    if (!opt.resume) {
        open(0, true);
        return tid;
    }
    stat(remote, true, [this, tid, open](const outcome& o, const attrs& a) {
        const auto it = transfers_.find(tid);
        if (it == transfers_.end()) return;
        transfer& t = *it->second;
        if (!failure_.empty()) return finish(t, outcome::failure(failure_));
        if (!o.ok || !a.has_size()) return open(0, true);
        if (a.size > *t.total)
            return finish(t, outcome::failure(quoted(t.remote) + " is larger (" + std::to_string(a.size) +
                                              " bytes) than " + t.local + "; not resumed"));
        open(a.size, false);
    });
    return tid;
}

void client::ul_opened(transfer& t) {
    report(t);
    settle(t);
}

void client::ul_pump(transfer& t) {
    std::vector<std::uint8_t> chunk;
    while (!t.error && t.next < *t.total && t.in_flight < opt_.max_requests &&
           t.in_flight_bytes + write_chunk_ <= opt_.max_in_flight) {
        const std::uint64_t offset = t.next;
        const auto len = static_cast<std::uint32_t>(std::min<std::uint64_t>(write_chunk_, *t.total - offset));
        if (t_.room() < len + small_request) break;  // writable() goes on
        chunk.resize(len);
        const auto got = t.file->read_at(offset, chunk);
        if (!got || *got != len) {
            stop(t, outcome::failure(
                        with_cause(t.local + " changed or could not be read at offset " + std::to_string(offset),
                                   got ? std::string() : t.file->error())));
            break;
        }
        t.next += len;
        ++t.in_flight;
        t.in_flight_bytes += len;
        const std::uint32_t id = new_id();
        request rq(SSH_FXP_WRITE, id);
        rq.string(t.handle).u64(offset).string(std::span<const std::uint8_t>(chunk));
        const transfer_id tid = t.id;
        post(id, rq, [this, tid, offset, len](const reply* r) {
            if (transfer* live = running(tid)) ul_ack(*live, offset, len, r);
        });
        if (!failure_.empty() || !transfers_.count(tid)) return;
    }
}

void client::ul_ack(transfer& t, std::uint64_t offset, std::uint32_t len, const reply* r) {
    --t.in_flight;
    t.in_flight_bytes -= len;
    if (!r) return finish(t, outcome::failure(failure_));
    if (r->type != SSH_FXP_STATUS)
        return fail_all("the SFTP server answered WRITE with reply type " + std::to_string(r->type));
    if (!t.error) {
        if (r->code != SSH_FX_OK) {
            stop(t, refused("write of " + quoted(t.remote) + " at offset " + std::to_string(offset) + " failed", *r));
        } else {
            t.done += len;
            report(t);
        }
    }
    settle(t);
}

void client::ul_check(transfer& t) {
    if (t.checking) return;
    t.checking = true;
    const transfer_id tid = t.id;
    // Every write was acknowledged: the file must now be as long as ours, or the server acknowledged writes it did
    // not make.
    auto check = [this, tid] {
        const std::uint32_t id = new_id();
        request rq(SSH_FXP_FSTAT, id);
        const transfer* live = running(tid);
        if (!live) return;
        rq.string(live->handle);
        post(id, rq, [this, tid](const reply* r) {
            const auto it2 = transfers_.find(tid);
            if (it2 == transfers_.end()) return;
            transfer& t2 = *it2->second;
            if (!r) return finish(t2, outcome::failure(failure_));
            if (r->type == SSH_FXP_STATUS)
                stop(t2, refused("cannot check the size of " + quoted(t2.remote), *r));
            else if (r->type != SSH_FXP_ATTRS)
                return fail_all("the SFTP server answered FSTAT with reply type " + std::to_string(r->type));
            else if (!r->a.has_size())
                stop(t2, outcome::failure("the SFTP server did not tell the size of " + quoted(t2.remote)));
            else if (r->a.size != *t2.total)
                stop(t2, outcome::failure("the SFTP server acknowledged writes that did not reach " +
                                          quoted(t2.remote) + ": it holds " + std::to_string(r->a.size) + " of " +
                                          std::to_string(*t2.total) + " bytes"));
            auto close = [this, tid] {
                transfer* t3 = running(tid);
                if (!t3) return;
                t3->handle_open = false;
                close_handle(t3->handle, [this, tid](const outcome& o) {
                    transfer* t4 = running(tid);
                    if (!t4) return;
                    if (t4->error) return finish(*t4, *t4->error);
                    finish(*t4, o.ok ? outcome{} : o);
                });
            };
            if (t2.error || !t2.local_attrs) return close();
            // The mode again, as OPEN gives it only to a new file; the times when asked.
            attrs a;
            a.flags = SSH_FILEXFER_ATTR_PERMISSIONS;
            a.permissions = t2.local_attrs->mode & 0777;
            if (t2.opt.keep_times) {
                a.flags |= SSH_FILEXFER_ATTR_ACMODTIME;
                a.atime = static_cast<std::uint32_t>(t2.local_attrs->atime);
                a.mtime = static_cast<std::uint32_t>(t2.local_attrs->mtime);
            }
            const std::uint32_t id3 = new_id();
            request fs(SSH_FXP_FSETSTAT, id3);
            fs.string(t2.handle).attributes(a);
            post(id3, fs,
                 status_reply("setting the mode of " + quoted(t2.remote), [this, tid, close](const outcome& o) {
                     transfer* t3 = running(tid);
                     if (!t3) return;
                     if (!failure_.empty()) return finish(*t3, outcome::failure(failure_));
                     if (!o.ok) stop(*t3, o);
                     close();
                 }));
        });
    };
    if (!t.opt.sync || !has_extension("fsync@openssh.com")) return check();
    const std::uint32_t id = new_id();
    request rq(SSH_FXP_EXTENDED, id);
    rq.string("fsync@openssh.com").string(t.handle);
    post(id, rq, status_reply("fsync " + quoted(t.remote), [this, tid, check](const outcome& o) {
             const auto it = transfers_.find(tid);
             if (it == transfers_.end()) return;
             if (!failure_.empty()) return finish(*it->second, outcome::failure(failure_));
             if (!o.ok) stop(*it->second, o);
             check();
         }));
}

// ----- folders -----

client::transfer_id client::download_folder(const std::string& remote, const std::string& local, transfer_options opt,
                                            progress_fn progress, done_fn done, skip_fn skipped) {
    auto job = std::make_shared<folder_job>();
    job->id = next_transfer_++;
    job->root = remote;
    job->opt = opt;
    job->on_progress = std::move(progress);
    job->on_done = std::move(done);
    job->on_skip = std::move(skipped);
    folders_[job->id] = job;
    stat(remote, true, [this, job, remote, local](const outcome& o, const attrs& a) {
        if (job->cancelled) return folder_end(job, outcome::failure("cancelled"));
        if (!o.ok) return folder_end(job, o);
        if (a.has_permissions() && !a.is_dir())
            return folder_end(job, outcome::failure(quoted(remote) + " is not a folder"));
        std::string why;
        if (!files_.make_directory(local, folder_mode(a.has_permissions() ? a.permissions : 0777), why))
            return folder_end(job, outcome::failure(why));
        folder_enter(job, remote, local);
    });
    return job->id;
}

std::size_t client::folder_bytes_held() const {
    std::size_t n = 0;
    for (const auto& [id, job] : folders_) n += job->held;
    return n;
}

void client::folder_end(const std::shared_ptr<folder_job>& job, const outcome& o) {
    if (!folders_.erase(job->id)) return;
    job->stack.clear();
    job->held = 0;
    if (o.ok && job->skipped > 0)
        return job->on_done(outcome::failure(std::to_string(job->skipped) +
                                             (job->skipped == 1 ? " entry" : " entries") + " of " + quoted(job->root) +
                                             " not fetched (" + job->first_skip + ")"));
    job->on_done(o);
}

void client::folder_skip(folder_job& job, const std::string& remote, const std::string& why) {
    if (job.skipped++ == 0) job.first_skip = quoted(remote) + ": " + why;
    if (job.on_skip) job.on_skip(remote, why);
}

// The folder, made locally already, is listed; its entries wait in a new frame.
void client::folder_enter(const std::shared_ptr<folder_job>& job, const std::string& remote, const std::string& local) {
    const bool root = job->stack.empty();
    list(remote, [this, job, remote, local, root](const outcome& o, std::vector<dir_entry> entries) {
        if (job->cancelled) return folder_end(job, outcome::failure("cancelled"));
        if (!failure_.empty()) return folder_end(job, outcome::failure(failure_));
        if (!o.ok) {
            if (root) return folder_end(job, o);
            folder_skip(*job, remote, o.message);
            return folder_next(job);
        }
        folder_job::frame f;
        f.remote = remote;
        f.cost = remote.size() + sizeof f;
        for (const dir_entry& e : entries) f.cost += 2 * e.name.size() + local.size() + sizeof(folder_job::item) + 2;
        if (!root && job->held + f.cost > opt_.max_folder_held) {
            folder_skip(*job, remote,
                        "the folders above it hold more names than this client keeps at once (" +
                            std::to_string(opt_.max_folder_held >> 20) + " MiB)");
            return folder_next(job);
        }
        // Names that come out the same once made safe ("a/b" and "a_b"), or whose partial files meet another name
        // ("x" and "x.part"), each get a name of their own, so no file overwrites another.
        std::set<std::string> taken;
        const auto unique = [&taken](std::string name) {
            const auto clashes = [&taken](const std::string& n) {
                return taken.count(n) || taken.count(partial_name(n));
            };
            const std::string base = name;
            for (int k = 2; clashes(name); ++k) name = base.substr(0, 240) + "~" + std::to_string(k);
            taken.insert(name);
            taken.insert(partial_name(name));
            return name;
        };
        for (dir_entry& e : entries) {
            // The name the server gives is one part of a path, whatever it holds: made safe locally, and asked for
            // remotely under the folder listed.
            const std::string source = join_path(remote, e.name);
            if (e.name.empty()) {
                folder_skip(*job, source, "an empty name");
            } else if (e.a.is_link()) {
                folder_skip(*job, source, "a symbolic link, not followed");
            } else if (e.a.is_dir() || e.a.is_regular() || !e.a.has_permissions()) {
                std::string target = join_path(local, unique(safe_local_name(e.name)));
                f.items.push_back({std::move(e.name), std::move(target), e.a});
            } else {
                folder_skip(*job, source, "not a regular file or folder");
            }
        }
        job->held += f.cost;
        job->stack.push_back(std::move(f));
        folder_next(job);
    });
}

void client::folder_next(const std::shared_ptr<folder_job>& job) {
    while (true) {
        if (job->cancelled) return folder_end(job, outcome::failure("cancelled"));
        if (!failure_.empty()) return folder_end(job, outcome::failure(failure_));
        if (job->stack.empty()) return folder_end(job, outcome{});
        folder_job::frame& f = job->stack.back();
        if (f.next == f.items.size()) {
            job->held -= f.cost;
            job->stack.pop_back();
            continue;
        }
        folder_job::item it = std::move(f.items[f.next++]);
        const std::string source = join_path(f.remote, it.name);
        if (it.a.is_dir()) {
            if (job->stack.size() > opt_.max_folder_depth) {
                folder_skip(*job, source,
                            "deeper than " + std::to_string(opt_.max_folder_depth) + " folders (a loop?), not fetched");
                continue;
            }
            std::string why;
            if (!files_.make_directory(it.local, folder_mode(it.a.permissions), why)) {
                folder_skip(*job, source, why);
                continue;
            }
            return folder_enter(job, source, it.local);
        }
        job->current = download(source, it.local, job->opt, job->on_progress, [this, job, source](const outcome& o) {
            if (!o.ok && !job->cancelled && failure_.empty()) folder_skip(*job, source, o.message);
            folder_next(job);
        });
        return;
    }
}

}  // namespace sftp
