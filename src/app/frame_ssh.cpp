// The SSH client of the view's connection: its sign-on dialogs, what it is told of the view's grid, and the status
// bar's security pane (its timers are the view's connection_runtime).
#include <QApplication>
#include <QStatusBar>
#include <utility>

#include "adapters/connection_runtime.h"
#include "app/mainframe.h"
#include "config/settings.h"
#include "crypto/wipe.h"
#include "dialogs/host_key_dialog.h"
#include "dialogs/settings_dialogs.h"
#include "dialogs/ssh_auth_dialogs.h"
#include "session/connection.h"
#include "session/session.h"
#include "ssh/algorithms.h"
#include "ssh/known_hosts.h"
#include "ssh/services.h"
#include "ssh/ssh_client.h"
#include "view/view.h"

namespace {

struct dialog_prompts final : ssh::ssh_prompts {
    // What the user typed in the sign-on dialog, kept in memory for this run: Reconnect signs on with it once
    // instead of asking again. A password remembered in the keyring never comes here (no dialog is shown).
    std::string typed_user, typed_password;
    bool reuse_once = false;
    ~dialog_prompts() override { crypto::wipe(typed_password); }
    // `s` is the connection's own record. What the user types is also the settings' (saved with the "Remember"
    // box); the password stays in the settings only when remembered, as the engines leave it.
    bool sign_on(ssh_profile& s) override { return ask(s, false); }
    // The negotiated mode's dialog: the name is the one already sent; only the password is asked.
    bool password(ssh_profile& s) override { return ask(s, true); }
    bool ask(ssh_profile& s, bool password_only) {
        if (std::exchange(reuse_once, false) && !typed_password.empty() && !typed_user.empty() &&
            (!password_only || typed_user == s.ssh_user)) {
            s.ssh_user = typed_user;
            s.ssh_password = typed_password;
            return true;
        }
        QWidget* parent = QApplication::activeWindow();
        if (!(password_only ? ask_sign_on_password(s, parent) : session_sign_on(s, parent))) return false;
        typed_user = s.ssh_user;
        crypto::wipe(typed_password);
        typed_password = s.ssh_password;
        Settings& saved = settings();
        saved.ssh_user = s.ssh_user;
        saved.ssh_default = s.ssh_default;
        crypto::wipe(saved.ssh_password);
        if (s.ssh_default != 0) saved.ssh_password = s.ssh_password;
        return true;
    }
    ssh::host_key_answer confirm_host_key(std::string_view host, int port, std::string_view type,
                                          std::string_view fingerprint) override {
        return ask_host_key(ssh::unknown_host_key_question(host, port, type, fingerprint),
                            ssh::known_host_name(host, port), type, fingerprint, QApplication::activeWindow());
    }
    // A host certificate that did not stand: the question shows what it claimed and why it was not taken.
    ssh::host_key_answer confirm_certified_host_key(std::string_view host, int port, std::string_view type,
                                                    std::string_view fingerprint,
                                                    const ssh::host_certificate_facts& certificate) override {
        return ask_host_key(ssh::unknown_host_key_question(host, port, type, fingerprint, &certificate),
                            ssh::known_host_name(host, port), type, fingerprint, QApplication::activeWindow(),
                            &certificate);
    }
    std::optional<std::vector<std::string>> keyboard_interactive(std::string_view name, std::string_view instruction,
                                                                 const std::vector<ssh::kbd_prompt>& prompts) override {
        return ask_keyboard_interactive(name, instruction, prompts, QApplication::activeWindow());
    }
    std::optional<std::string> key_passphrase(std::string_view key_file) override {
        return ask_key_passphrase(key_file, QApplication::activeWindow());
    }
    // bcrypt at a few thousand rounds takes most of a minute: a worker thread derives the key while the window
    // keeps painting and the user may cancel.
    ssh::key_load load_key(std::string_view key_file, std::string_view passphrase) override {
        const std::string file(key_file);
        ssh::key_load out;
        const bool done = run_with_progress(
            QStringLiteral("Deriving the key of %1 from its passphrase...").arg(QString::fromStdString(file)),
            [&](const std::atomic<bool>& cancel) { out = ssh::load_private_key(file, passphrase, &cancel); },
            QApplication::activeWindow());
        if (!done) {
            out = {};
            out.status = ssh::key_status::cancelled;
            out.reason = "Key file " + file + ": the derivation of its key from the passphrase was cancelled";
        }
        return out;
    }
};

}  // namespace

void CMainFrame::reuse_sign_on_once(bool on) {
    if (auto* d = dynamic_cast<dialog_prompts*>(ssh_prompts_.get())) d->reuse_once = on;
}

void CMainFrame::install_ssh_engine() {
    ssh_prompts_ = std::make_unique<dialog_prompts>();
    connection& link = view_->link();
    // Port forwards: each failure told in the status bar.
    view_->runtime().enable_ssh(*ssh_prompts_, [this](std::string_view t) {
        statusBar()->showMessage(QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size())), 15000);
    });
    view_->ssh_status = [this] {
        const ssh::ssh_client* c = view_->link().ssh();
        if (!c) return CVellumView::ssh_state{};
        const ssh::kex_method* kex = c->ssh2_agreed_kex();
        return CVellumView::ssh_state{c->identification_sent(),
                                      c->ssh1_state(),
                                      c->ssh2_keys_active(),
                                      c->ssh2_cipher_name(),
                                      kex ? kex->name : std::string_view(),
                                      kex && kex->post_quantum};
    };
    // The pty request carries the terminal's width, and a switch between 80 and 132 columns is told to the host.
    link.set_columns(view_->columns());
    connect(view_, &CVellumView::columns_changed, this, [this] { view_->link().set_columns(view_->columns()); });
    // The view's grid: with screen_size 1 the host hears it (SSH paced to ten changes a second, Telnet by NAWS);
    // with 0 the engines only keep it.
    auto tell_grid = [this] { view_->link().set_grid(view_->rows(), view_->columns()); };
    tell_grid();
    connect(view_, &CVellumView::grid_changed, this, tell_grid);
}
