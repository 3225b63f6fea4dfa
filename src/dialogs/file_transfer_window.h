#pragma once
// File Transfer: the host's folders over SFTP beside the local ones, with uploads, downloads, renames, deletions,
// new folders, and a list of transfers with their progress, rate and time left, Cancel and Resume.
//
// The window drives the sftp::client it is given and never owns it: the owner hands it over once the channel is
// ready and clears it (set_client(nullptr, why)) when the channel ends, before the client goes. Requests start
// only from the event loop (a button, a drop, a timer), never from inside one of the client's callbacks while a
// question is open, so a modal question never runs inside the connection's receive path.
//
// Remote names are shown through sftp::visible_name and stored through sftp::safe_local_name, so a download lands
// inside the local folder whatever the host calls the file.
#include <QWidget>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sftp/client.h"
#include "sftp/transfer_queue.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class file_transfer_window : public QWidget {
    Q_OBJECT
public:
    enum class pane { remote, local };
    enum class choice { overwrite, resume, skip, rename };
    // The target of a transfer exists already.
    struct existing_target {
        bool upload = false;
        QString name;                       // the target as shown
        std::uint64_t existing_size = 0;    // of the target, or of the partial download that is kept
        std::optional<std::uint64_t> size;  // of the source, when known
        bool can_resume = false;            // the existing part is not longer than the source
    };
    struct answer {
        choice what = choice::skip;
        QString new_name;  // rename: the target's new name in the same folder
    };
    // The questions the window asks; tests answer them. The defaults show message boxes and input dialogs.
    struct prompts {
        std::function<answer(const existing_target&)> existing;
        // A name typed by the user (rename, new folder); nullopt when cancelled.
        std::function<std::optional<QString>(const QString& title, const QString& label, const QString& initial)> text;
        std::function<bool(const QString& question)> confirm;
    };

    using state = sftp::transfer_state;
    // A transfer as the list shows it; the queue runs it.
    struct transfer_row : sftp::transfer_job {
        QString shown;  // the file's name as listed
        QTreeWidgetItem* item = nullptr;
        QProgressBar* bar = nullptr;
        QPushButton* cancel = nullptr;
        QPushButton* resume = nullptr;
    };

    explicit file_transfer_window(QWidget* parent = nullptr);
    ~file_transfer_window() override;

    void set_prompts(prompts p);
    // The client of the connection's SFTP channel, listing `start_folder` first (or the home folder, realpath ".",
    // when it is empty or cannot be listed). Null: "Not connected" with `why`, and every action is disabled.
    void set_client(sftp::client* c, const std::string& start_folder = {}, const QString& why = {});
    sftp::client* client() const { return client_; }
    // The owner asked for a channel: drops wait for it instead of being refused.
    void set_opening();
    // Uploads local files and folders into the remote folder shown (once it is listed, when the channel is still
    // opening).
    void upload_paths(const QStringList& local_paths);

    void set_local_folder(const QString& path);
    // Lists a remote folder (raw bytes as the host names it).
    void open_remote_folder(const std::string& path);
    const std::string& remote_folder() const { return remote_folder_; }
    QString local_folder() const { return local_folder_; }
    // Which pane the buttons act on: the one that last had the focus.
    void set_active_pane(pane p) { active_ = p; }
    pane active_pane() const { return active_; }

    // The parts, for tests.
    QTreeWidget* remote_list() const { return remote_list_; }
    QTreeWidget* local_list() const { return local_list_; }
    QTreeWidget* transfer_list() const { return transfer_list_; }
    QLineEdit* remote_path_field() const { return remote_path_; }
    QLabel* status_line() const { return status_; }
    QLabel* connection_line() const { return connection_; }
    // On by default: the modification times go with the files both ways.
    QCheckBox* keep_times_box() const { return keep_times_; }
    // A button by its object name: remote_up, remote_refresh, local_up, local_refresh, upload, download, rename,
    // delete, new_folder, clear (the finished transfers go from the list).
    QPushButton* button(const QString& name) const;
    const std::vector<std::unique_ptr<transfer_row>>& transfers() const { return rows_; }
    // Selects the rows of a pane whose names (as listed) are given.
    void select_names(pane p, const QStringList& names);

    // "drwxr-xr-x" from a mode (type bits included).
    static QString mode_text(std::uint32_t mode);
    // "1.5 MiB/s"; "2:05" (or "1:02:03"); empty when unknown.
    static QString rate_text(double bytes_per_second);
    static QString time_left_text(std::uint64_t done, std::optional<std::uint64_t> total, double rate);

public slots:
    void upload();
    void download();
    void rename_selected();
    void delete_selected();
    void new_folder();
    void refresh();
    void go_up();
    void cancel_transfer(int row);
    void resume_transfer(int row);
    // The rows of transfers that ended (done, failed, cancelled, skipped) go; those running or waiting stay.
    void clear_finished();

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    struct remote_entry {
        std::string name;
        sftp::attrs a;
    };
    void build();
    void show_status(const QString& text, bool error = false);
    void update_enabled();
    void list_remote(const std::string& path, bool fallback_home);
    void fill_remote(const std::vector<sftp::dir_entry>& entries);
    void fill_local();
    void remote_activated(QTreeWidgetItem* item);
    void local_activated(QTreeWidgetItem* item);
    std::vector<remote_entry> selected_remote() const;
    QStringList selected_local() const;
    std::string remote_join(const std::string& folder, const std::string& name) const;

    // Transfers: a row per file, handed to the queue, which has its target checked before it starts.
    transfer_row& add_row(bool upload, std::string remote, std::string local, QString shown);
    void check_and_start(transfer_row& r);
    void ask_existing(transfer_row& r, existing_target q);
    void apply_answer(transfer_row& r, const answer& a);
    void finished(transfer_row& r, const sftp::outcome& o);
    void show_row(transfer_row& r);
    int row_index(const transfer_row& r) const;
    void upload_folder(const QString& local, const std::string& remote, int depth = 0);
    // A question waits its turn; each one runs from the event loop.
    void post_question(std::function<void()> ask);
    void next_question();
    // A reply handler for the client in use now: it runs only while the window lives and that client is still
    // the one in use (a new connection's client makes older replies stale).
    template <class F>
    auto current(F f) {
        return [this, alive = std::weak_ptr<bool>(alive_), gen = generation_, f = std::move(f)](auto&&... args) {
            if (alive.expired() || gen != generation_) return;
            f(std::forward<decltype(args)>(args)...);
        };
    }

    prompts prompts_;
    sftp::client* client_ = nullptr;
    unsigned generation_ = 0;  // a new client (or none) makes older callbacks stale
    unsigned listing_ = 0;     // the latest remote listing asked for
    bool opening_ = false;
    bool remote_ready_ = false;
    std::string remote_folder_;
    QString local_folder_;
    pane active_ = pane::remote;
    QStringList waiting_uploads_;
    std::deque<std::function<void()>> questions_;
    bool asking_ = false;
    std::vector<std::unique_ptr<transfer_row>> rows_;
    sftp::transfer_queue queue_;  // holds pointers into rows_: declared after them, gone before them
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    QLineEdit* remote_path_ = nullptr;
    QLineEdit* local_path_ = nullptr;
    QTreeWidget* remote_list_ = nullptr;
    QTreeWidget* local_list_ = nullptr;
    QTreeWidget* transfer_list_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* connection_ = nullptr;
    QCheckBox* keep_times_ = nullptr;
    std::vector<QPushButton*> buttons_;
};
