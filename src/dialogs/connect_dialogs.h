#pragma once
// The Connect dialog, its Advanced dialog and the Connect command that runs them.
#include <functional>
#include <string>
#include <string_view>

#include "config/sessions.h"
#include "dialogs/dialog_base.h"

struct Settings;
struct settings_backend;
class QComboBox;
class QListWidget;

// What the Connect dialog hands to Advanced and takes back from it.
struct advanced_values {
    QString port_text;
    bool autoconnect = false;  // "Use as default &Host"
    bool exit = false;
    bool confirm = false;
};

// Connect - Advanced. On OK its choices go into the record it was given (the Connect dialog's draft) and the
// values back to the Connect dialog, which stores them only on its own OK.
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

// The saved sessions the Connect dialog offers; without a store it has no session list.
struct session_options {
    settings_backend* store = nullptr;
    bool may_save = true;  // Save As, Rename and Delete write to the store
    // Makes the named configuration the one in use before the dialog closes (double-click on a session, or OK
    // with one picked).
    // Empty: switch_configuration on the dialog's record.
    std::function<void(const std::string& name)> use;
    // The hosts ~/.ssh/config names, offered read only after the history in the host list; one picked while the
    // protocol is Telnet switches it to SSH-2.
    std::vector<std::string> ssh_hosts;
};

// Connect: saved sessions beside the host name with the history list, the connection fields (port, protocol,
// user name, key file, terminal type); Advanced... and Tunnels... for the rest. Those two edit a draft of the
// session shown (a picked one's stored record, or the configuration in use); only Connect's OK stores it, into
// that session, and connects with it. Cancel leaves the settings and the store as they were, but for the classic
// Advanced SSH choices of the configuration in use, which the classic program kept at once.
class gethost : public settings_dialog {
    Q_OBJECT
public:
    gethost(Settings& s, QWidget* parent = nullptr);
    gethost(Settings& s, session_options sessions, QWidget* parent = nullptr);
    QComboBox* host_box() const { return combo_; }
    QListWidget* session_list() const { return list_; }
    const advanced_values& values() const { return values_; }
    // What the connection fields show now.
    sessions::connection fields() const;
    void apply_shown(Settings& s) const;
    // The session double-clicked to connect with; empty otherwise.
    const std::string& chosen_session() const { return chosen_; }
    // The saved session whose record the draft holds; empty for the configuration in use.
    const std::string& shown_session() const { return session_; }

public slots:
    void advanced();
    void tunnels();
    void new_session();
    void save_session_as();
    void rename_session();
    void delete_session();

protected:
    void store() override;

private:
    void show_fields(const sessions::connection& c);
    // The draft becomes r, shown; session names where it was read from (empty: the configuration in use).
    void start_draft(const Settings& r, std::string session);
    void pick(const QString& name);
    void protocol_chosen();
    void fill_list(const QString& current);
    void update_buttons();
    QString selected() const;
    // The name asked for by Save As and Rename; empty when cancelled.
    QString ask_name(const QString& title, const QString& start);
    void warn_port_once();

    Settings& s_;
    Settings draft_;
    std::string session_;
    session_options opt_;
    QComboBox* combo_ = nullptr;
    QLineEdit* port_ = nullptr;
    QComboBox* protocol_ = nullptr;
    QLineEdit* user_ = nullptr;
    QLineEdit* key_ = nullptr;
    QLineEdit* term_ = nullptr;
    QListWidget* list_ = nullptr;
    advanced_values values_;
    bool port_typed_ = false;  // the port is the user's own, not the protocol's or a session's
    QString warned_port_;      // the typed port already warned about
    sessions::protocol shown_ = sessions::protocol::telnet;
    std::string chosen_;
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
