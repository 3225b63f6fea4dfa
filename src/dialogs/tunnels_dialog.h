#pragma once
// Connect - Tunnels: the port forwards of the connection (`ssh_forwards`) and agent forwarding. Like Advanced, it
// stores straight into the record it was given on OK.
#include "dialogs/dialog_base.h"

struct Settings;
class QComboBox;
class QLabel;
class QListWidget;

class gethost_tunnels : public settings_dialog {
    Q_OBJECT
public:
    explicit gethost_tunnels(Settings& s, QWidget* parent = nullptr);

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
};

inline constexpr const char* agent_forward_warning_text =
    "While you are connected, the host's administrator (or anyone who controls the host) can use the keys of your "
    "SSH agent to sign on to other hosts as you. Forward the agent only to hosts you trust.";
