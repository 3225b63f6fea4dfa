#include "session/connection.h"

#include <utility>

#include "crypto/wipe.h"
#include "ssh/ssh_client.h"
#include "terminal/screen.h"
#include "terminal/vt.h"

connection::connection(const connection_parts& p)
    : ring_(std::make_unique<screen_ring>()),
      vt_(std::make_unique<vt>(*ring_, p.terminal_host, nullptr)),
      sockets_(std::make_unique<jump_socket_factory>(p.sockets, p.ui)),
      session_(std::make_unique<session>(*vt_, profile_, p.nettopc, p.pctonet, *sockets_, p.setup_timer, p.ui, p.view,
                                         p.clock)) {
    sockets_->set_question_hook([this](bool open) { session_->user_question_open(open); });
}

connection::~connection() {
    session_->set_ending_listener(nullptr);  // whoever listened may be going too
    disable_ssh();
    if (session_->busy()) session_->disconnect(true);
    session_.reset();
    vt_.reset();
    crypto::wipe(profile_.ssh.ssh_password);
}

void connection::enable_ssh(ssh::ssh_prompts& prompts, session_timer* resize_timer) {
    disable_ssh();
    ssh_ = std::make_unique<ssh::ssh_client>(profile_, *session_, session_->messages(), prompts);
    ssh_->set_resize_timer(resize_timer);
    session_->set_ssh_engine(ssh_.get());
    sockets_->set_prompts(&prompts);
}

void connection::disable_ssh() {
    if (!ssh_) return;
    if (session_->busy() && session_->transport() != TransportKind::Telnet) session_->disconnect(true);
    session_->set_ssh_engine(nullptr);
    sockets_->set_prompts(nullptr);
    ssh_.reset();
}

void connection::apply_terminal(const terminal_profile& t) {
    vt_options& v = vt_->options();
    v.answerback = t.myid;
    v.bell = t.bell;
    v.utf8 = t.utf8;
    v.clipboard_write = t.clipboard_write;
    vt_->set_emulation(emulation_for_termtype(t.termtype));
}

bool connection::connect(const connection_profile& p) {
    if (session_->busy()) return false;
    target_ = std::make_unique<connection_profile>(p);
    crypto::wipe(target_->ssh.ssh_password);
    // The engines hold references into the profile: it is rewritten in place, never replaced.
    crypto::wipe(profile_.ssh.ssh_password);
    profile_ = p;
    stored_local_echo_ = p.terminal.local_echo;
    apply_terminal(p.terminal);
    // The hosts in between: the ones set for every connection (-J, as ssh's command line), else the profile's own
    // (ProxyJump).
    std::vector<jump_hop> chain = jump_;
    if (chain.empty() && !p.ssh.proxy_jump.empty() && p.protocol == TransportKind::Ssh2)
        if (auto hops = parse_jump_chain(p.ssh.proxy_jump)) chain = std::move(*hops);
    sockets_->set_chain(chain, p);
    return session_->connect_to(p.host, p.port);
}

bool connection::reconnect(const connection_profile& now) {
    if (!target_ || session_->busy()) return false;
    connection_profile p = now;
    p.host = target_->host;
    p.port = target_->port;
    p.protocol = target_->protocol;
    p.ssh.ssh_user = target_->ssh.ssh_user;
    p.ssh.ssh_key_file = target_->ssh.ssh_key_file;
    p.ssh.proxy_jump = target_->ssh.proxy_jump;  // the way there belongs to the target
    return connect(p);
}

void connection::disconnect(bool suppress_exit) {
    if (session_->busy()) session_->disconnect(suppress_exit);
}

void connection::apply(const connection_profile& o) {
    apply_terminal(o.terminal);
    // Local echo is the host's to switch while connected (Telnet ECHO, SRM): a change of the other options keeps
    // it, and only a new stored value takes over.
    const bool echo =
        o.terminal.local_echo != stored_local_echo_ ? o.terminal.local_echo : profile_.terminal.local_echo;
    stored_local_echo_ = o.terminal.local_echo;
    // Telnet answers a later TERMINAL-TYPE question with the new name; the rest of a running session stays.
    profile_.terminal = o.terminal;
    profile_.terminal.local_echo = echo;
    profile_.auto_reconnect = o.auto_reconnect;
    if (target_) {
        target_->terminal = o.terminal;
        target_->auto_reconnect = o.auto_reconnect;
    }
}

void connection::set_grid(int rows, int columns) {
    if (ssh_) ssh_->set_window_size(rows, columns);
    session_->set_window_size(rows, columns);
}

void connection::set_columns(int columns) {
    if (ssh_) ssh_->set_columns(columns);
}

void connection::set_ending_listener(std::function<void(const session_ending&)> listener) {
    session_->set_ending_listener(std::move(listener));
}
