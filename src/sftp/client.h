#pragma once
// An SFTP version 3 client driven by bytes: receive() takes what the channel delivered, and requests leave through
// the transport. Nothing blocks; each operation reports through its callback, transfers also through progress
// calls, and every one can be cancelled. Transfers keep many requests in flight (sized by limits@openssh.com when
// the server offers it) within a bound on bytes outstanding, so memory stays bounded whatever the file size.
//
// Downloads go to partial_name(LOCAL) (LOCAL.part while that fits), opened without following links and readable by
// the owner alone, and are renamed to LOCAL with the remote mode once every byte is there and the size matches the
// server's; an upload is made with the local mode and checked by the size of the remote file once every write was
// acknowledged. A reply with an id never sent, or of the wrong shape, ends the client; a data reply larger than
// its read ends that transfer. Callbacks may start or cancel operations, but must not destroy the client.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sftp/local_files.h"
#include "sftp/protocol.h"

namespace sftp {

struct outcome {
    bool ok = true;
    std::uint32_t code = SSH_FX_OK;  // the server's status code when it refused
    std::string message;             // why, when not ok

    static outcome failure(std::string why, std::uint32_t code = SSH_FX_FAILURE) {
        return {false, code, std::move(why)};
    }
};

struct progress {
    std::uint64_t done = 0;              // bytes of the file in place, a resumed start included
    std::optional<std::uint64_t> total;  // the file's size when known
    std::uint64_t resumed_from = 0;
    double rate = 0;  // bytes a second moved since this transfer started
};

struct dir_entry {
    std::string name;  // as the server sent it: show it through visible_name, store it through safe_local_name
    std::string longname;
    attrs a;
};

struct server_limits {
    std::uint64_t max_packet = 0, max_read = 0, max_write = 0, max_handles = 0;  // 0: not said
};

struct vfs_info {
    std::uint64_t bsize = 0, frsize = 0, blocks = 0, bfree = 0, bavail = 0, files = 0, ffree = 0, favail = 0, fsid = 0,
                  flag = 0, namemax = 0;
};

struct client_options {
    std::size_t max_requests = 64;                   // per transfer
    std::size_t max_in_flight = 4 * 1024 * 1024;     // bytes asked for or sent and not yet answered, per transfer
    std::uint32_t default_chunk = 32 * 1024;         // without limits@openssh.com
    std::uint32_t max_chunk = 255 * 1024;            // whatever the server allows
    std::size_t max_listing = 100000;                // entries of one folder, "." and ".." counted
    std::size_t max_folder_depth = 256;              // folders below the one a folder download starts from
    std::size_t max_folder_held = 32 * 1024 * 1024;  // bytes of names a folder download keeps for the folders it is in
    std::function<double()> now;                     // seconds, for rates; steady_clock when empty
};

struct transfer_options {
    bool resume = false;      // continue LOCAL.part (download) or the remote file (upload) from its size
    bool sync = false;        // fsync@openssh.com (when offered) before the upload's check
    bool keep_times = false;  // the modification and access times go with the file, as its mode always does
};

class client {
public:
    class transport {
    public:
        virtual ~transport() = default;
        virtual void send(std::span<const std::uint8_t> bytes) = 0;
        // Bytes that may be handed to send() now without piling up; writes wait for writable() past it.
        virtual std::size_t room() const = 0;
    };
    using done_fn = std::function<void(const outcome&)>;
    using progress_fn = std::function<void(const progress&)>;
    using transfer_id = std::uint32_t;
    // An entry a folder download did not fetch (the remote path) and why.
    using skip_fn = std::function<void(const std::string& remote, const std::string& why)>;

    client(transport& t, local_files& files, client_options opt = {});
    ~client();
    client(const client&) = delete;
    client& operator=(const client&) = delete;

    // INIT; `ready` once the server's VERSION (and its limits, when offered) came, or with the failure.
    void start(done_fn ready);
    void receive(std::span<const std::uint8_t> bytes);
    // The transport has room again.
    void writable();
    // The channel is gone: everything running fails with `why`.
    void lost(std::string_view why);

    bool usable() const { return ready_ && failure_.empty(); }
    const std::string& failure() const { return failure_; }
    bool has_extension(std::string_view name) const;
    const server_limits& limits() const { return limits_; }
    std::uint32_t read_chunk() const { return read_chunk_; }
    std::uint32_t write_chunk() const { return write_chunk_; }

    void realpath(const std::string& path, std::function<void(const outcome&, const std::string&)> done);
    void stat(const std::string& path, bool follow, std::function<void(const outcome&, const attrs&)> done);
    // A folder's entries ("." and ".." left out), at most max_listing of them.
    void list(const std::string& path, std::function<void(const outcome&, std::vector<dir_entry>)> done);
    // `mode`: the new folder's permission bits (the server's umask may narrow them).
    void mkdir(const std::string& path, done_fn done, std::optional<std::uint32_t> mode = std::nullopt);
    void rmdir(const std::string& path, done_fn done);
    void remove(const std::string& path, done_fn done);
    // posix-rename@openssh.com when offered (replaces the target), RENAME otherwise.
    void rename(const std::string& from, const std::string& to, done_fn done);
    void setstat(const std::string& path, const attrs& a, done_fn done);
    void statvfs(const std::string& path, std::function<void(const outcome&, const vfs_info&)> done);

    transfer_id download(const std::string& remote, const std::string& local, transfer_options opt,
                         progress_fn progress, done_fn done);
    transfer_id upload(const std::string& local, const std::string& remote, transfer_options opt, progress_fn progress,
                       done_fn done);
    // The regular files of a remote folder and of every folder below it, walked depth first, into a local folder,
    // each name made safe. What is not fetched (links, which are never followed, other special files, what is
    // refused, what lies deeper than max_folder_depth or past max_folder_held) goes to `skipped` one by one, the
    // walk goes on, and the download then fails naming how many were left out.
    transfer_id download_folder(const std::string& remote, const std::string& local, transfer_options opt,
                                progress_fn progress, done_fn done, skip_fn skipped = {});
    // The transfer stops, its partial file kept; its done callback says "cancelled".
    void cancel(transfer_id id);

    std::size_t running_transfers() const { return transfers_.size(); }
    std::size_t requests_pending() const { return pending_.size(); }
    // Bytes the client holds: the reassembly buffer (the transfers hold no file data between calls).
    std::size_t buffered() const { return rx_.buffered(); }
    // Bytes of names and paths the folder downloads keep for the folders they are in.
    std::size_t folder_bytes_held() const;

private:
    using reply_fn = std::function<void(const reply*)>;  // null: the client failed (failure_ says why)
    struct transfer;
    struct folder_job;

    std::uint32_t new_id() { return next_id_++; }
    void post(std::uint32_t id, request& r, reply_fn on_reply);
    void fail_all(std::string why);
    void handle_packet(std::span<const std::uint8_t> packet);
    void got_version(std::span<const std::uint8_t> packet);
    void become_ready();
    // A STATUS-only request's outcome (`what` names it in the message).
    reply_fn status_reply(std::string what, done_fn done);
    void close_handle(const std::string& handle, std::function<void(const outcome&)> done);
    double now() const;

    transfer& add_transfer(bool upload, progress_fn progress, done_fn done);
    void dl_opened(transfer& t);
    void dl_pump(transfer& t);
    void dl_data(transfer& t, std::uint64_t offset, std::uint32_t len, const reply* r);
    void ul_opened(transfer& t);
    void ul_pump(transfer& t);
    void ul_ack(transfer& t, std::uint64_t offset, std::uint32_t len, const reply* r);
    void ul_check(transfer& t);
    void stop(transfer& t, outcome why);
    void settle(transfer& t);  // after a reply: finish, close or go on
    void finish(transfer& t, const outcome& o);
    void report(transfer& t);
    void pump_all();
    void folder_next(const std::shared_ptr<folder_job>& job);
    void folder_enter(const std::shared_ptr<folder_job>& job, const std::string& remote, const std::string& local);
    void folder_skip(folder_job& job, const std::string& remote, const std::string& why);
    void folder_end(const std::shared_ptr<folder_job>& job, const outcome& o);

    transport& t_;
    local_files& files_;
    client_options opt_;
    reassembler rx_;
    bool started_ = false, ready_ = false, version_seen_ = false;
    std::string failure_;
    done_fn on_ready_;
    std::vector<std::pair<std::string, std::string>> extensions_;
    server_limits limits_;
    std::uint32_t read_chunk_ = 0, write_chunk_ = 0;
    std::uint32_t next_id_ = 1;
    std::unordered_map<std::uint32_t, reply_fn> pending_;
    std::map<transfer_id, std::unique_ptr<transfer>> transfers_;
    // The transfer still running under `tid`, or null once it has finished or been cancelled.
    transfer* running(transfer_id tid) const {
        const auto it = transfers_.find(tid);
        return it == transfers_.end() ? nullptr : it->second.get();
    }
    std::map<transfer_id, std::shared_ptr<folder_job>> folders_;
    transfer_id next_transfer_ = 1;
    bool pumping_ = false;
};

}  // namespace sftp
