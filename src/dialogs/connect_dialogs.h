#pragma once
// The Connect dialog, its Advanced dialog and the Connect command that runs them.
#include <string>
#include <string_view>

#include "dialogs/dialog_base.h"

struct Settings;
class QComboBox;

// What the Connect dialog hands to Advanced and takes back from it.
struct advanced_values {
    QString port_text;
    bool autoconnect = false;  // "Use as default &Host"
    bool exit = false;
    bool confirm = false;
};

// Connect - Advanced. The secure-shell choices go straight into the settings on OK; the other values go back to
// the Connect dialog, which stores them only on its own OK.
class gethost_ad : public settings_dialog {
    Q_OBJECT
public:
    gethost_ad(Settings& s, const advanced_values& in, QWidget* parent = nullptr);
    const advanced_values& values() const { return out_; }

protected:
    void store() override;

private:
    Settings& s_;
    advanced_values out_;
};

// Connect: host name with the history list; Advanced... for port and options.
class gethost : public settings_dialog {
    Q_OBJECT
public:
    gethost(Settings& s, QWidget* parent = nullptr);
    QComboBox* host_box() const { return combo_; }
    const advanced_values& values() const { return values_; }

public slots:
    void advanced();

protected:
    void store() override;

private:
    Settings& s_;
    QComboBox* combo_ = nullptr;
    advanced_values values_;
};

inline constexpr const char* one_connection_text =
    "It is only possible to create 1 connection to a host from Quill Telnet.";
inline constexpr const char* ssh_port_warning_text =
    "SSH option has been selected, but port value is different from 22. On most UNIX installations port 22 will be "
    "used for the SSH service.";

// What the Connect command needs from the rest of the program.
struct connect_actions {
    virtual ~connect_actions() = default;
    virtual void apply_modes(bool auto_wrap, bool new_line) = 0;  // the emulator's auto-wrap and new-line modes
    virtual bool connected() = 0;
    virtual bool direct_connect() = 0;  // the direct-connect switch begins with "1"
    virtual void message(std::string_view text) = 0;
    virtual bool ask_host(Settings& s) = 0;  // runs the Connect dialog; true on OK (fields stored)
    virtual void connect_to(const std::string& host, int port) = 0;
    virtual void repaint() = 0;
};

// File "&Connect...": modes, the one-connection rule, direct connect, the dialog, history, host:port, connect.
void connect_command(Settings& s, connect_actions& a);
