#include "ssh/ssh_client.h"

#include "session/profile.h"
#include "ssh/ssh1.h"
#include "ssh/ssh2.h"
#include "ssh/ssh2_services.h"

namespace ssh {

ssh_client::ssh_client(connection_profile& p, session_services& io, ui_services& ui, ssh_prompts& prompts)
    : p_(p),
      io_(io),
      ui_(ui),
      prompts_(prompts),
      // Both protocols keep the size: the profile chooses which of them the next connection uses.
      pacer_([this](int rows, int columns) {
          const entry e(*this);
          rows_ = rows;
          grid_columns_ = columns;
          v2_->connection().set_window_size(rows, columns);
          v1_->set_window_size(rows, columns);
      }) {
    fresh_v2();
    fresh_v1();
}

ssh_client::~ssh_client() = default;

std::shared_ptr<void> ssh_client::hold() {
    ++depth_;
    return std::shared_ptr<void>(nullptr, [this](void*) { leave(); });
}

void ssh_client::leave() {
    if (--depth_ != 0) return;
    retired_.clear();
    retired_v1_.clear();
}

ssh_client::entry::~entry() { c.leave(); }

void ssh_client::fresh_v2() {
    v2_ = std::make_unique<ssh2_engine>(p_, io_, ui_, prompts_);
    v2_->set_target(host_, port_);
    if (columns_ != 0) v2_->connection().set_columns(columns_);
    if (rows_ != 0) v2_->connection().set_window_size(rows_, grid_columns_);
    give_tunnels();
}

void ssh_client::fresh_v1() {
    v1_ = std::make_unique<ssh1_engine>(p_, io_, ui_, prompts_);
    v1_->set_target(host_, port_);
    if (ask_again_) v1_->set_ask_again();
    if (rows_ != 0) v1_->set_window_size(rows_, grid_columns_);
    v1_->note = tunnel_note_;
    v1_->hold = [this] { return hold(); };
}

void ssh_client::give_tunnels() {
    // A tunnel's socket calls in from outside the session's calls: it holds an entry too, so an engine the
    // session ended under it is freed only after that call.
    v2_->set_tunnels(tunnel_net_, tunnel_note_, [this] { return hold(); });
}

void ssh_client::set_tunnels(fwd::local_network* net, std::function<void(std::string_view)> note) {
    tunnel_net_ = net;
    tunnel_note_ = std::move(note);
    v1_->note = tunnel_note_;
    give_tunnels();
}

std::vector<fwd::forwarder::status> ssh_client::tunnels() const { return v2_->connection().tunnels().status(); }

void ssh_client::open_sftp(sftp_channel_events ev) {
    const entry e(*this);
    const bool v2 = with_ssh2([&ev](ssh2_connection& c) { c.sftp().open({std::move(ev.ready), std::move(ev.ended)}); });
    if (!v2 && ev.ended) ev.ended("SFTP needs SSH-2");
}

bool ssh_client::with_ssh2(const std::function<void(ssh2_connection&)>& f) {
    const entry e(*this);
    if (!version2()) return false;
    f(v2_->connection());
    return true;
}

bool ssh_client::version2() const { return p_.protocol == TransportKind::Ssh2; }

void ssh_client::ssh_receive(const std::uint8_t* bytes, std::size_t n) {
    const entry e(*this);
    if (version2())
        v2_->receive(bytes, n);
    else
        v1_->receive(bytes, n);
}

void ssh_client::ssh_send_user_data(const std::uint8_t* bytes, std::size_t n) {
    const entry e(*this);
    if (version2())
        v2_->connection().send_user_data(bytes, n);
    else
        v1_->send_user_data(bytes, n);
}

void ssh_client::ssh_reset() {
    const entry e(*this);
    // The engine that served the connection may be inside one of its steps (the session ends from there): it
    // stops and is kept until that step has returned.
    v2_->close();
    retired_.push_back(std::move(v2_));
    fresh_v2();
    ask_again_ = ask_again_ || v1_->ask_again();  // a failed password asks again from now on
    v1_->close();
    retired_v1_.push_back(std::move(v1_));
    fresh_v1();
}

void ssh_client::ssh_target(std::string_view host, int port) {
    host_.assign(host);
    port_ = port;
    v2_->set_target(host, port);
    v1_->set_target(host, port);
}
void ssh_client::ssh_connected() {
    const entry e(*this);
    if (version2()) v2_->connected();
}
void ssh_client::ssh_goodbye() {
    const entry e(*this);
    if (version2()) v2_->goodbye();
}
bool ssh_client::ssh_handshake_done() const {
    // SSH-1 state 2 follows the host's acknowledgement of the session key (and the user name sent after it).
    return version2() ? v2_->keys_active() : v1_->state() >= 2;
}
bool ssh_client::signed_on() const { return version2() ? v2_->sign_on_accepted() : v1_->state() >= 4; }
void ssh_client::set_columns(int columns) {
    const entry e(*this);
    columns_ = columns;
    v2_->connection().set_columns(columns);
}
void ssh_client::set_window_size(int rows, int columns) { pacer_.change(rows, columns); }
void ssh_client::on_resize_timer() { pacer_.expired(); }
void ssh_client::keepalive() {
    const entry e(*this);
    if (version2()) v2_->connection().keepalive();
}
std::string_view ssh_client::ssh2_cipher_name() const {
    return v2_->negotiated() ? v2_->cipher_name() : std::string_view();
}

const kex_method* ssh_client::ssh2_agreed_kex() const { return v2_->agreed_kex(); }

bool ssh_client::identification_sent() const {
    return version2() ? v2_->identification_sent() : v1_->identification_sent();
}
int ssh_client::ssh1_state() const { return v1_->state(); }
bool ssh_client::ssh2_keys_active() const { return v2_->keys_active(); }
void ssh_client::set_ask_again() {
    ask_again_ = true;
    v1_->set_ask_again();
}

}  // namespace ssh
