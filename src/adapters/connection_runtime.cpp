#include "adapters/connection_runtime.h"

#include "session/connection.h"
#include "session/host_config.h"
#include "session/jump.h"
#include "ssh/ssh_client.h"
#include "terminal/screen.h"

connection_runtime::connection_runtime() {
    keepalive_tick_.setInterval(1000);
    QObject::connect(&keepalive_tick_, &QTimer::timeout, [this] { keepalive_second(); });
}

connection_runtime::~connection_runtime() = default;

void connection_runtime::attach(connection& link) {
    link_ = &link;
    setup_.set_callback([this] { link_->net().on_proxy_timer(); });
    pacing_.set_callback([this] {
        if (ssh::ssh_client* c = link_->ssh()) c->on_resize_timer();
    });
    link.ring().set_history_limit(link.profile().terminal.scrollback_lines);
    keepalive_tick_.start();
}

void connection_runtime::apply(const connection_profile& options) {
    link_->apply(options);
    link_->ring().set_history_limit(link_->profile().terminal.scrollback_lines);
}

void connection_runtime::enable_ssh(ssh::ssh_prompts& prompts, std::function<void(std::string_view)> tunnel_news) {
    link_->enable_ssh(prompts, &pacing_);
    link_->ssh()->set_tunnels(&tunnels_, std::move(tunnel_news));
}

void connection_runtime::keepalive_second() {
    if (!link_) return;
    ssh::ssh_client* c = link_->ssh();
    if (keepalive_.tick(c && link_->net().connected(), link_->profile().ssh.ssh_keepalive)) c->keepalive();
}

connection_runtime::ssh_config_outcome connection_runtime::take_ssh_config(connection_profile& p) {
    ssh_config_outcome out;
    out.notes = apply_ssh_config(p, default_ssh_config_sources());
    std::string why;
    if (p.ssh.proxy_jump.empty() || p.protocol != TransportKind::Ssh2 || parse_jump_chain(p.ssh.proxy_jump, &why))
        return out;
    out.refusal = "Cannot connect to " + p.target_text() + ": its jump hosts \"" + p.ssh.proxy_jump +
                  "\" cannot be used (" + why + ").";
    return out;
}
