#pragma once
// Connect - Tunnels: the port forwards of the connection (`ssh_forwards`) and agent forwarding. Like Advanced, it
// stores straight into the record it was given on OK.
#include <functional>
#include <vector>

#include "dialogs/dialog_base.h"
#include "forward/forwarder.h"

struct Settings;
class QComboBox;
class QLabel;
class QListWidget;

class gethost_tunnels : public settings_dialog {
    Q_OBJECT
public:
    using status_fn = std::function<std::vector<fwd::forwarder::status>()>;
    // With `active`, the running connection's tunnels are listed too (refreshed each second), and changes to the
    // list apply from the next connection.
    explicit gethost_tunnels(Settings& s, QWidget* parent = nullptr, status_fn active = {});
    // The active list's rows as shown ("127.0.0.1:8080 -> web:80  listening, 1 open, 12 B sent, 3 B received").
    static QString status_text(const fwd::forwarder::status& st);
    void refresh_active();

public slots:
    // Adds the forward the fields describe; a wrong one is named in a message and stays in the fields.
    void add_forward();
    void remove_forward();

protected:
    void store() override;

private:
    void kind_chosen();

    Settings& s_;
    QListWidget* list_ = nullptr;
    QComboBox* kind_ = nullptr;
    QLineEdit* listen_ = nullptr;
    QLineEdit* destination_ = nullptr;
    QLabel* ignored_ = nullptr;
    status_fn active_;
    QListWidget* active_list_ = nullptr;
};

inline constexpr const char* agent_forward_warning_text =
    "While you are connected, the host's administrator (or anyone who controls the host) can use the keys of your "
    "SSH agent to sign on to other hosts as you. Forward the agent only to hosts you trust.";
