#include "session/connection.h"

#include <utility>

#include "crypto/wipe.h"
#include "ssh/ssh_client.h"
#include "terminal/screen.h"
#include "terminal/vt.h"

connection_options connection_options::from(const Settings& s, std::string host, int port) {
    connection_options o;
    o.host = std::move(host);
    o.port = port;
    o.protocol = s.ssh == 0 ? TransportKind::Telnet : s.ssh_type_1_2 == 1 ? TransportKind::Ssh2 : TransportKind::Ssh1;
    o.user = s.ssh_user;
    o.key_file = s.ssh_key_file;
    o.termtype = s.termtype;
    o.answerback = s.myid;
    o.utf8 = s.utf8 != 0;
    o.bell = s.bell != 0;
    o.clipboard_write = s.clipboard_write != 0;
    o.window_sized = s.screen_size == 1;
    o.host_echo = s.host_echo != 0;
    o.record = s;
    return o;
}

Settings connection_options::engine_record() const {
    Settings r = record;
    // The proxy asks for host_name and port: the target's, also when the settings name another host by now.
    r.host_name = host;
    r.port = port;
    r.ssh = protocol == TransportKind::Telnet ? 0 : 1;
    if (protocol != TransportKind::Telnet) r.ssh_type_1_2 = protocol == TransportKind::Ssh2 ? 1 : 0;
    r.ssh_user = user;
    r.ssh_key_file = key_file;
    r.termtype = termtype;
    r.myid = answerback;
    r.utf8 = utf8 ? 1 : 0;
    r.bell = bell ? 1 : 0;
    r.clipboard_write = clipboard_write ? 1 : 0;
    r.screen_size = window_sized ? 1 : 0;
    r.host_echo = host_echo ? 1 : 0;
    return r;
}

connection::connection(const connection_parts& p)
    : ring_(std::make_unique<screen_ring>()),
      vt_(std::make_unique<vt>(*ring_, p.terminal_host, nullptr)),
      session_(std::make_unique<session>(*vt_, record_, p.nettopc, p.pctonet, p.sockets, p.setup_timer, p.ui, p.view,
                                         p.clock)) {}

connection::~connection() {
    session_->set_ending_listener(nullptr);  // whoever listened may be going too
    disable_ssh();
    if (session_->busy()) session_->disconnect(true);
    session_.reset();
    vt_.reset();
    crypto::wipe(record_.ssh_password);
}

void connection::enable_ssh(ssh::ssh_prompts& prompts, session_timer* resize_timer) {
    disable_ssh();
    ssh_ = std::make_unique<ssh::ssh_client>(record_, *session_, session_->messages(), prompts);
    ssh_->set_resize_timer(resize_timer);
    session_->set_ssh_engine(ssh_.get());
}

void connection::disable_ssh() {
    if (!ssh_) return;
    if (session_->busy() && session_->transport() != TransportKind::Telnet) session_->disconnect(true);
    session_->set_ssh_engine(nullptr);
    ssh_.reset();
}

void connection::apply_terminal(const connection_options& o) {
    vt_options& v = vt_->options();
    v.answerback = o.answerback;
    v.bell = o.bell;
    v.utf8 = o.utf8;
    v.clipboard_write = o.clipboard_write;
    vt_->set_emulation(emulation_for_termtype(o.termtype));
}

bool connection::connect(const connection_options& options) {
    if (session_->busy()) return false;
    target_ = std::make_unique<connection_options>(options);
    crypto::wipe(target_->record.ssh_password);
    // The engines hold a reference to the record: it is rewritten in place, never replaced.
    crypto::wipe(record_.ssh_password);
    record_ = options.engine_record();
    apply_terminal(options);
    return session_->connect_to(options.host, options.port);
}

bool connection::reconnect(const Settings& now) {
    if (!target_ || session_->busy()) return false;
    connection_options o = connection_options::from(now, target_->host, target_->port);
    o.protocol = target_->protocol;
    o.user = target_->user;
    o.key_file = target_->key_file;
    return connect(o);
}

void connection::disconnect(bool suppress_exit) {
    if (session_->busy()) session_->disconnect(suppress_exit);
}

void connection::apply(const connection_options& o) {
    apply_terminal(o);
    // Telnet answers a later TERMINAL-TYPE question with the new name; the rest of a running session stays.
    record_.termtype = o.termtype;
    record_.myid = o.answerback;
    record_.utf8 = o.utf8 ? 1 : 0;
    record_.bell = o.bell ? 1 : 0;
    record_.clipboard_write = o.clipboard_write ? 1 : 0;
    record_.screen_size = o.window_sized ? 1 : 0;
    record_.host_echo = o.host_echo ? 1 : 0;
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
