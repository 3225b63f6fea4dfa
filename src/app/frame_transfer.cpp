// File Transfer: the command and its window, the SFTP channel of the view's connection (asked for once and reused
// until it ends), and local files dropped on the terminal.
#include <QPointer>
#include <QStatusBar>
#include <QTimer>

#include "app/mainframe.h"
#include "dialogs/file_transfer_window.h"
#include "session/connection.h"
#include "ssh/ssh_client.h"
#include "terminal/vt.h"
#include "view/view.h"

namespace {

class transfer_glue final : public QObject {
public:
    explicit transfer_glue(CMainFrame& f) : QObject(&f), f_(f), again_(new QTimer(this)) {
        // After a connection ends, while the window is open, the next connection (Reconnect) gets its channel
        // without another click, so a failed row can be resumed at once. The timer runs only for that wait.
        again_->setInterval(500);
        connect(again_, &QTimer::timeout, this, [this] {
            if (!window_ || !window_->isVisible() || client_) return again_->stop();
            if (asked_ || !usable()) return;
            again_->stop();
            ask();
        });
        connect(&f.view(), &CVellumView::session_ended, this, [this] {
            if (window_ && window_->isVisible()) again_->start();
        });
    }

    // An SSH-2 connection past its key exchange. The channel itself is opened by the engine once the sign-on is
    // through (it waits for the shell's channel), so asking a little early only waits.
    bool usable() {
        connection& link = f_.view().link();
        const connection_profile* o = link.last_target();
        return f_.connected() && o && o->protocol == TransportKind::Ssh2 && link.ssh() &&
               link.ssh()->ssh2_keys_active();
    }

    file_transfer_window& open() {
        if (!window_) window_ = new file_transfer_window(&f_);
        window_->show();
        window_->raise();
        window_->activateWindow();
        if (!client_ && !asked_ && usable()) ask();
        return *window_;
    }

    void dropped(const QStringList& paths) {
        if (!usable()) {
            f_.statusBar()->showMessage(
                QStringLiteral("Dropped files are uploaded over an SSH-2 connection only: nothing was sent"), 10000);
            return;
        }
        open().upload_paths(paths);
    }

private:
    void ask() {
        asked_ = true;
        window_->set_opening();
        const unsigned gen = generation_;
        QPointer<transfer_glue> self(this);
        f_.view().link().ssh()->open_sftp(
            {[self, gen](sftp::client& c) {
                 if (!self || gen != self->generation_) return;
                 self->client_ = &c;
                 // The window's first requests go from the event loop, not from inside the engine's receive step.
                 QTimer::singleShot(0, self, [self, gen, &c] {
                     if (!self || gen != self->generation_ || self->client_ != &c || !self->window_) return;
                     self->window_->set_client(&c, self->f_.terminal().current_folder());
                 });
             },
             [self](std::string_view why) {
                 if (!self) return;
                 // The client goes with its channel: forget it before anything can reach it again.
                 ++self->generation_;
                 self->client_ = nullptr;
                 self->asked_ = false;
                 // A channel the host refused or closed on a live connection is asked for again on the next
                 // connection, not every tick.
                 if (self->f_.connected()) self->again_->stop();
                 if (self->window_)
                     self->window_->set_client(nullptr, {}, QString::fromUtf8(why.data(), qsizetype(why.size())));
             }});
    }

    CMainFrame& f_;
    QPointer<file_transfer_window> window_;
    sftp::client* client_ = nullptr;
    QTimer* again_;
    bool asked_ = false;
    unsigned generation_ = 0;
};

}  // namespace

void register_transfer_commands(CMainFrame& f) {
    auto* glue = new transfer_glue(f);
    f.set_command(
        cmd::file_transfer, [glue] { glue->open(); }, [glue] { return glue->usable(); });
    QObject::connect(&f.view(), &CVellumView::files_dropped, glue,
                     [glue](const QStringList& paths) { glue->dropped(paths); });
}
