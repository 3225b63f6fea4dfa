#pragma once
// The main window: menu bar, toolbar, status bar around the terminal view.
//
// Other parts of the program plug into it by command:
//   frame.set_command(cmd::proxy, [&]{ ... }, [&]{ return frame.save_allowed(); });
// installs the handler for a menu/toolbar command together with optional predicates for its enabled state and its
// check mark. Predicates are polled when a menu is about to show and by the idle timer (toolbar buttons), so they
// must be cheap. A later set_command for the same command replaces the earlier handler; a predicate it leaves
// empty keeps the one installed before (so a dialog handler for Connect keeps the frame's enable rule).
//
// Hand-over hooks: register_dialog_commands() (frame_dialogs.cpp), register_file_commands() (frame_files.cpp) and
// register_transfer_commands() (frame_transfer.cpp) are called once from the constructor, after the view, the menus and the built-in commands exist, so they may
// override built-in handlers.
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>

#include "app/commands.h"
#include "app/toolbar_table.h"
#include "config/ui_services.h"
#include "session/liveness.h"

class QAction;
class QLabel;
class QMenu;
class QToolBar;
class QToolButton;
class CVellumView;
class CVellumDoc;
class find_bar;
class vt;
class session;
struct settings_backend;
struct socket_factory;
class frame_window;
struct StartupValues;
namespace ssh {
class ssh_client;
struct ssh_prompts;
}  // namespace ssh

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // `start` are the parsed command-line values, `ui` shows message boxes, `store` is where the settings live,
    // `sockets` makes the session's sockets; all outlive the frame. The constructor loads the settings, places
    // and shows the window.
    CMainFrame(CVellumDoc& doc, const StartupValues& start, ui_services& ui, settings_backend& store,
               socket_factory& sockets, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // --- commands -----------------------------------------------------------------------------------------
    using handler = std::function<void()>;
    using predicate = std::function<bool()>;
    void set_command(int command, handler run, predicate enabled = {}, predicate checked = {});
    // Runs the handler if the command is enabled; returns false when there is no handler or it is disabled.
    bool run_command(int command);
    bool command_enabled(int command) const;
    bool command_checked(int command) const;
    QAction* action(int command) const;  // the menu action (nullptr for commands without a menu item)
    void refresh_command_states();       // re-polls every predicate (menus, toolbar buttons)

    // --- the parts ------------------------------------------------------------------------------------------
    CVellumView& view() { return *view_; }
    find_bar& finder() { return *find_bar_; }
    CVellumDoc& document() { return doc_; }
    ssh::ssh_client& ssh();  // the view's connection's SSH client
    vt& terminal();
    session& net();
    const StartupValues& start() const { return start_; }
    ui_services& ui() { return ui_; }
    settings_backend& store() { return store_; }  // where the configurations live (the saved sessions)
    // Settings commands and the log-file commands are enabled only when the save switch begins with "0".
    bool save_allowed() const;
    // The direct-connect switch begins with "1".
    bool direct_connect() const;
    // Whether a session is connected right now.
    bool connected() const;

    // --- layout and painting ----------------------------------------------------------------------------------
    void repaint_view();      // whole terminal grid redrawn now
    void request_relayout();  // font fitted again on the next paint (font change, column switch, bar toggles)
    void relayout();          // font fitted again now

    // --- toolbar ----------------------------------------------------------------------------------------------
    toolbar_table& toolbar_rows() { return rows_; }
    void rebuild_toolbar();         // from the table
    void collect_toolbar_layout();  // table from the toolbar as it is now
    void customize_toolbar();       // opens the Customize dialog
    QToolBar* toolbar() const { return toolbar_; }

    // --- closing ----------------------------------------------------------------------------------------------
    // Asks the close question when needed; true when the window may close.
    bool may_close();
    // With `confirm_disconnect` and a session up, asks before Disconnect; true when it may go ahead.
    bool may_disconnect();
    // Window placement and toolbar layout into the settings record, then the settings are saved.
    void save_settings();

    // Status pane labels (security, position, CTRL, SHIFT), for tests.
    QLabel* status_pane(int i) const { return panes_[i]; }
    QLabel* status_note() const { return note_; }  // the message pane's connection state
    QToolButton* reconnect_button() const { return reconnect_button_; }
    void update_status_panes();

    // --- reconnect and liveness -------------------------------------------------------------------------------
    // The latest connection of the run again (host, port, protocol, user), after a divider line on the screen.
    // `automatic`: an attempt of the automatic reconnect, whose failure counts down to the next instead of a box.
    bool reconnect(bool automatic = false);
    bool reconnect_possible() const;
    // The automatic reconnect is counting down: seconds to the next attempt, 0 when it is not.
    int reconnect_countdown() const { return retry_pending_ ? retry_in_ : 0; }
    void cancel_auto_reconnect();
    // Once a second: keep-alive silence and the automatic reconnect's countdown (tests call it to step time).
    void liveness_tick();

protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    struct entry {
        handler run;
        predicate enabled;
        predicate checked;
        QAction* menu_action = nullptr;
    };
    void build_menus();
    void build_status_bar();
    void install_ssh_engine();  // frame_ssh.cpp
    void install_builtin_commands();
    QAction* add_item(QMenu* m, const char* text, int command, bool checkable = false);
    void show_bars();
    void fkey_clicked(int n);
    void load_toolbar_table();
    void set_title(const QString& host);
    void watch_progress();  // an attempt that stands ends the automatic reconnect's back-off
    void session_ended();   // pushed by the view's connection: the automatic reconnect's schedule
    void schedule_retry();
    // Reconnect's divider waits for the new session to stand: a Telnet connection made, an SSH sign-on accepted.
    bool session_stands();
    void write_divider();
    // frame_ssh.cpp: the next SSH sign-on takes this run's credentials (on for a reconnect, off once it ended).
    void reuse_sign_on_once(bool on);
    friend class frame_window;

    CVellumDoc& doc_;
    const StartupValues& start_;
    ui_services& ui_;
    settings_backend& store_;
    std::unique_ptr<frame_window> window_;
    CVellumView* view_ = nullptr;
    find_bar* find_bar_ = nullptr;                   // under the view, hidden until Find
    QPointer<QWidget> menu_focus_;                   // had the keyboard when a menu opened
    std::unique_ptr<ssh::ssh_prompts> ssh_prompts_;  // the sign-on dialogs of the view's SSH client
    QAction* row_actions_[toolbar_rows_count] = {};
    QToolBar* toolbar_ = nullptr;
    QLabel* panes_[4] = {};
    QLabel* note_ = nullptr;
    QToolButton* reconnect_button_ = nullptr;
    silence_watch silence_;
    bool auto_attempt_ = false;  // the running attempt was started by the automatic reconnect
    bool retry_pending_ = false;
    bool divider_pending_ = false;
    int retry_attempt_ = 0;  // automatic attempts since the ending
    int retry_in_ = 0;       // seconds to the next one
    std::map<int, entry> commands_;
    toolbar_table rows_;
    bool relayout_pending_ = false;
    bool saved_ = false;
    bool maximized_ = false;
    class QTimer* idle_ = nullptr;
};

// Filled by the dialogs (frame_dialogs.cpp) and by the printing/capture code (frame_files.cpp).
void register_dialog_commands(CMainFrame& frame);
void register_file_commands(CMainFrame& frame);
// File Transfer (frame_transfer.cpp): the command, its window, the SFTP channel and files dropped on the terminal.
void register_transfer_commands(CMainFrame& frame);
