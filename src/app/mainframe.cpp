#include "app/mainframe.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QKeyEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/customize_dialog.h"
#include "config/mycli.h"
#include "config/settings.h"
#include "config/settings_store.h"
#include "config/ui_services.h"
#include "session/connection.h"
#include "session/session.h"
#include "ssh/services.h"
#include "ssh/ssh_client.h"
#include "terminal/vt.h"
#include "view/document.h"
#include "view/find_bar.h"
#include "view/help.h"
#include "view/view.h"
#include "view/view_mouse.h"

#ifndef QTELNET_BUILD_MAPS_DIR
#define QTELNET_BUILD_MAPS_DIR ""
#endif

namespace {
const char* const app_title = "Quill W32 Telnet";
const char* const close_question =
    "There is an active session with the Unix Host. Do you really want to close this program ?";
constexpr int idle_ms = 200;
}  // namespace

// What the settings loader and saver ask of the window.
class frame_window final : public settings_window {
public:
    explicit frame_window(CMainFrame& f) : f_(f) {}
    int screen_width() override { return screen().width(); }
    int screen_height() override { return screen().height(); }
    int icon_width() override { return f_.style()->pixelMetric(QStyle::PM_LargeIconSize); }
    int icon_height() override { return f_.style()->pixelMetric(QStyle::PM_LargeIconSize); }
    void apply_placement(const window_placement& p) override {
        if (p.x2 > p.x1 && p.y2 > p.y1) f_.setGeometry(p.x1, p.y1, p.x2 - p.x1, p.y2 - p.y1);
        if (p.showCmd == 3)
            f_.showMaximized();
        else
            f_.show();
    }
    void show_normal() override {
        f_.resize(800, 560);
        f_.show();
    }
    void fit_font() override { f_.view().refit(); }
    window_placement current_placement() override {
        window_placement p;
        QRect g = f_.normalGeometry();
        if (!g.isValid()) g = f_.geometry();
        p.flags = 0;
        p.showCmd = f_.isMaximized() ? 3 : f_.isMinimized() ? 2 : 1;
        p.x1 = g.left();
        p.y1 = g.top();
        p.x2 = g.left() + g.width();
        p.y2 = g.top() + g.height();
        return p;
    }
    void collect_toolbar(std::array<toolbar_row_setting, toolbar_row_count>& rows) override {
        f_.collect_toolbar_layout();
        for (int i = 0; i < toolbar_row_count; ++i) {
            rows[i].used = f_.rows_[i].used ? 1 : 0;
            rows[i].pos = f_.rows_[i].position;
            copy_fixed(rows[i].text, std::string(f_.rows_[i].text));
        }
    }
    void relayout() override { f_.relayout(); }

private:
    QRect screen() const {
        QScreen* s = f_.screen() ? f_.screen() : QGuiApplication::primaryScreen();
        return s ? s->geometry() : QRect(0, 0, 1024, 768);
    }
    CMainFrame& f_;
};

CMainFrame::CMainFrame(CVellumDoc& doc, const StartupValues& start, ui_services& ui, settings_backend& store,
                       socket_factory& sockets, QWidget* parent)
    : QMainWindow(parent), doc_(doc), start_(start), ui_(ui), store_(store) {
    window_ = std::make_unique<frame_window>(*this);
    setWindowTitle(app_title);

    // 1. The view, with the find bar under it.
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    view_ = new CVellumView(doc_, ui_, sockets, central);
    find_bar_ = new find_bar(*view_, central);
    find_bar_->hide();
    column->addWidget(view_, 1);
    column->addWidget(find_bar_);
    setCentralWidget(central);
    install_ssh_engine();

    // Bars first, so that they are children of the window before it is shown.
    build_menus();
    toolbar_ = new QToolBar(QStringLiteral("Standard"), this);
    toolbar_->setObjectName(QStringLiteral("Standard"));
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolbar_->setMovable(true);
    toolbar_->setFloatable(true);
    toolbar_->setFocusPolicy(Qt::NoFocus);
    addToolBar(Qt::TopToolBarArea, toolbar_);
    for (int i = 0; i < toolbar_rows_count; ++i) {
        auto* a = new QAction(QString::fromLatin1(rows_[i].default_text), this);
        int c = rows_[i].command;
        a->setData(c);
        connect(a, &QAction::triggered, this, [this, c] { run_command(c); });
        row_actions_[i] = a;
    }
    build_status_bar();

    // 2. Settings; this places and shows the window.
    load_options opts;
    opts.change_process_dir = true;
    opts.install_dirs = default_install_dirs();
    // Run from a build tree: the build's copy of the shipped map files.
    opts.install_dirs.push_back(QCoreApplication::applicationDirPath().toStdString());
    // Installed from the package: the shared data beside the program's bin folder.
    opts.install_dirs.push_back(QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/qtelnet"))
                                    .absolutePath()
                                    .toStdString());
    if (QFileInfo::exists(QStringLiteral(QTELNET_BUILD_MAPS_DIR "/keys.map")))
        opts.install_dirs.push_back(QTELNET_BUILD_MAPS_DIR);
    load_settings(settings(), store_, start_, ui_, window_.get(), opts);
    Settings& s = settings();
    view_->settings_changed();
    if (s.term_size == 132) view_->terminal().set_columns(132);
    view_->show_scroll_bar(s.scroll_bar != 0);

    // The toolbar from the validated table.
    load_toolbar_table();
    rebuild_toolbar();
    install_builtin_commands();

    menuBar()->setVisible(!start_.no_menu);
    show_bars();

    connect(view_, &CVellumView::title_changed, this, &CMainFrame::set_title);
    connect(view_, &CVellumView::session_ended_exit, this, [this] { close(); });
    connect(view_, &CVellumView::session_ended, this, &CMainFrame::session_ended);
    connect(view_, &CVellumView::find_requested, this, [this] { run_command(cmd::find); });
    view_->host_data_coming = [this] { write_divider(); };
    idle_ = new QTimer(this);
    idle_->setInterval(idle_ms);
    connect(idle_, &QTimer::timeout, this, [this] {
        update_status_panes();
        refresh_command_states();
    });
    idle_->start();
    auto* second = new QTimer(this);
    second->setInterval(1000);
    connect(second, &QTimer::timeout, this, &CMainFrame::liveness_tick);
    second->start();
    // The view takes every key for the host; while disconnected Ctrl+Shift+R is ours, and a countdown's key.
    view_->installEventFilter(this);

    register_dialog_commands(*this);
    register_file_commands(*this);
    register_transfer_commands(*this);
    refresh_command_states();
    view_->setFocus();
}

CMainFrame::~CMainFrame() {
    // A session still up ends here, while its engine can still say goodbye to the host; the view (a child widget)
    // outlives these members, so its connection must not keep the sign-on dialogs.
    disconnect(view_, nullptr, this, nullptr);
    view_->link().disconnect(true);
    view_->link().disable_ssh();
}

ssh::ssh_client& CMainFrame::ssh() { return *view_->link().ssh(); }

vt& CMainFrame::terminal() { return view_->terminal(); }
session& CMainFrame::net() { return view_->net(); }
bool CMainFrame::save_allowed() const { return start_.saving_enabled(); }
bool CMainFrame::direct_connect() const { return start_.direct_connect_enabled(); }
bool CMainFrame::connected() const { return view_->connected(); }

// ---------------------------------------------------------------------------------------------------------------
// Commands

void CMainFrame::set_command(int command, handler run, predicate enabled, predicate checked) {
    entry& e = commands_[command];
    e.run = std::move(run);
    if (enabled) e.enabled = std::move(enabled);
    if (checked) e.checked = std::move(checked);
    if (e.menu_action) {
        e.menu_action->setCheckable(static_cast<bool>(e.checked));
        e.menu_action->setEnabled(command_enabled(command));
        if (e.checked) e.menu_action->setChecked(e.checked());
    }
}

bool CMainFrame::run_command(int command) {
    auto it = commands_.find(command);
    if (it == commands_.end() || !it->second.run || !command_enabled(command)) return false;
    handler h = it->second.run;  // the handler may replace itself
    h();
    refresh_command_states();
    return true;
}

bool CMainFrame::command_enabled(int command) const {
    auto it = commands_.find(command);
    if (it == commands_.end() || !it->second.run) return false;
    return !it->second.enabled || it->second.enabled();
}

bool CMainFrame::command_checked(int command) const {
    auto it = commands_.find(command);
    return it != commands_.end() && it->second.checked && it->second.checked();
}

QAction* CMainFrame::action(int command) const {
    auto it = commands_.find(command);
    return it == commands_.end() ? nullptr : it->second.menu_action;
}

void CMainFrame::refresh_command_states() {
    for (auto& [c, e] : commands_) {
        if (!e.menu_action) continue;
        e.menu_action->setEnabled(command_enabled(c));
        if (e.checked) {
            e.menu_action->setCheckable(true);
            e.menu_action->setChecked(e.checked());
        }
    }
    for (int i = 0; i < toolbar_rows_count; ++i)
        if (row_actions_[i]) row_actions_[i]->setEnabled(command_enabled(rows_[i].command));
}

QAction* CMainFrame::add_item(QMenu* m, const char* text, int command, bool checkable) {
    QAction* a = m->addAction(QString::fromLatin1(text));
    a->setCheckable(checkable);
    a->setData(command);
    a->setEnabled(false);
    connect(a, &QAction::triggered, this, [this, command, a] {
        if (!run_command(command)) refresh_command_states();
        (void)a;
    });
    commands_[command].menu_action = a;
    return a;
}

void CMainFrame::build_menus() {
    QMenuBar* mb = menuBar();
    QMenu* file = mb->addMenu(QStringLiteral("&File"));
    add_item(file, "&Connect...", cmd::connect);
    add_item(file, "&Disconnect", cmd::disconnect);
    add_item(file, "R&econnect", cmd::reconnect)->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+R")));
    file->addSeparator();
    add_item(file, "File &Transfer...", cmd::file_transfer);
    file->addSeparator();
    add_item(file, "&Print Screen...", cmd::print_screen);
    add_item(file, "P&rint Setup...", cmd::print_setup);
    add_item(file, "&Send...", cmd::send_mail);
    QMenu* log = file->addMenu(QStringLiteral("&LogFile"));
    add_item(log, "&Save to File...", cmd::log_save);
    add_item(log, "&Read from File...", cmd::log_read);
    add_item(log, "SS&H log to a file", cmd::ssh_log, true);
    file->addSeparator();
    add_item(file, "E&xit", cmd::exit);

    QMenu* edit = mb->addMenu(QStringLiteral("&Edit"));
    add_item(edit, "Select &All", cmd::select_all);
    add_item(edit, "&Copy", cmd::copy);
    add_item(edit, "&Paste", cmd::paste);
    add_item(edit, "App&end", cmd::append);
    edit->addSeparator();
    // The shortcut is shown here; the view takes the key itself and asks for the command (find_requested).
    add_item(edit, "&Find...", cmd::find)->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+F")));
    edit->addSeparator();
    add_item(edit, "C&lear Scroll-back", cmd::clear_scrollback);
    add_item(edit, "&Reset Terminal", cmd::reset_terminal);
    add_item(edit, "C&trl+C and Ctrl+V", cmd::ctrl_cv, true);

    QMenu* view = mb->addMenu(QStringLiteral("&View"));
    add_item(view, "&Toolbar", cmd::view_toolbar, true);
    add_item(view, "&Status Bar", cmd::view_status_bar, true);
    add_item(view, "S&croll Bar", cmd::scroll_bar, true);
    add_item(view, "Sc&reen width 132", cmd::screen_132, true);

    QMenu* set = mb->addMenu(QStringLiteral("&Settings"));
    add_item(set, "&Font...", cmd::screen_font);
    QMenu* colors = set->addMenu(QStringLiteral("&Colors"));
    add_item(colors, "&Text Color...", cmd::color_text);
    add_item(colors, "&Background Color...", cmd::color_background);
    add_item(colors, "&Cursor Color...", cmd::color_cursor);
    add_item(colors, "B&old Color...", cmd::color_bold);
    add_item(set, "&Proxy Configuration...", cmd::proxy);
    // Not "A&uto-Login...": 'u' belongs to "C&ursor...", and every letter of "Cursor" is taken in this menu.
    add_item(set, "Auto-Lo&gin...", cmd::auto_login);
    add_item(set, "&Mapping Files...", cmd::mapping_files);
    add_item(set, "SS&H Tunnels...", cmd::ssh_tunnels);
    QMenu* printer = set->addMenu(QStringLiteral("Pri&nter..."));
    add_item(printer, "&Printer Font...", cmd::printer_font);
    add_item(printer, "P&rinter Margins...", cmd::printer_margins);
    add_item(printer, "R&aw Auxiliary Printing", cmd::raw_aux_print, true);
    add_item(set, "&Termtype...", cmd::termtype);
    add_item(set, "C&ursor...", cmd::cursor);
    QAction* blink = add_item(set, "Cursor Bl&inks", cmd::cursor_blink, true);
    blink->setStatusTip(QStringLiteral("Select if the Cursor should blink"));
    set->addSeparator();
    add_item(set, "&Local Echo", cmd::local_echo, true);
    add_item(set, "Us&e Host Echo Control", cmd::host_echo, true);
    add_item(set, "&Autowrap", cmd::autowrap, true);
    add_item(set, "&Swap LF to CRLF", cmd::swap_lf, true);
    add_item(set, "M&ouse Wheel", cmd::mouse_wheel, true);
    add_item(set, "&Visual Bell", cmd::visual_bell, true);
    set->addSeparator();
    add_item(set, "Tool&bar...", cmd::customize_toolbar);
    add_item(set, "&Reset Configuration...", cmd::reset_config);

    QMenu* help = mb->addMenu(QStringLiteral("&Help"));
    add_item(help, "&Help Topics", cmd::help_topics);
    add_item(help, "&About Quill telnet", cmd::about);

    for (QAction* title : mb->actions()) {
        QMenu* m = title->menu();
        if (!m) continue;
        m->installEventFilter(this);
        // The widget to give the keyboard back to: the menu bar takes it while a title is highlighted.
        connect(m, &QMenu::aboutToShow, this, [this, mb] {
            QWidget* w = QApplication::focusWidget();
            if (w && w != mb && w->window() == this) menu_focus_ = w;
        });
    }

    for (QMenu* m : mb->findChildren<QMenu*>())
        connect(m, &QMenu::aboutToShow, this, &CMainFrame::refresh_command_states);
}

void CMainFrame::build_status_bar() {
    QStatusBar* sb = statusBar();
    // A normal widget, not a status message: menu prompts cover it for a moment and it comes back after them.
    note_ = new QLabel(sb);
    note_->setObjectName(QStringLiteral("connection_note"));
    note_->setMinimumWidth(1);  // the first-start hint is cut at the window's edge rather than widening the window
    sb->addWidget(note_, 1);
    reconnect_button_ = new QToolButton(sb);
    reconnect_button_->setObjectName(QStringLiteral("reconnect_button"));
    reconnect_button_->setText(QStringLiteral("Reconnect (Ctrl+Shift+R)"));
    reconnect_button_->setAutoRaise(true);
    reconnect_button_->setFocusPolicy(Qt::NoFocus);
    reconnect_button_->hide();
    connect(reconnect_button_, &QToolButton::clicked, this, [this] {
        run_command(cmd::reconnect);
        view_->setFocus();
    });
    sb->addWidget(reconnect_button_);
    const char* sizing[4] = {"Secure (SSH-1)xx", "Ln 00, Col 000", "CTRL", "SHIFT"};
    for (int i = 0; i < 4; ++i) {
        auto* l = new QLabel(sb);
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        l->setMinimumWidth(l->fontMetrics().horizontalAdvance(QString::fromLatin1(sizing[i])) + 8);
        l->setAlignment(Qt::AlignCenter);
        sb->addPermanentWidget(l);
        panes_[i] = l;
    }
    update_status_panes();
}

void CMainFrame::update_status_panes() {
    Qt::KeyboardModifiers mods = QGuiApplication::queryKeyboardModifiers();
    watch_progress();
    const session& net = view_->net();
    QString note = view_->connection_text();
    if (net.connected() && !net.setting_up() && silence_.silent_for() > 0) {
        note = QStringLiteral("No answer for %1 s").arg(silence_.silent_for());
    } else if (!net.busy() && !net.last_ending().cause.empty() && !net.last_ending().by_user) {
        // The message box's text on one line: its first line and the cause under it.
        note = QString::fromStdString(net.last_ending().cause).split(QLatin1Char('\n'), Qt::SkipEmptyParts).join(' ');
        if (retry_pending_) note += QStringLiteral("  Reconnecting in %1 s (any key cancels)").arg(retry_in_);
    }
    note_->setText(note);
    reconnect_button_->setVisible(reconnect_possible() && !retry_pending_);
    panes_[0]->setText(view_->security_text());
    panes_[0]->setToolTip(view_->security_tip());
    panes_[1]->setText(view_->position_text());
    panes_[2]->setText(mods & Qt::ControlModifier ? QStringLiteral("CTRL") : QStringLiteral(" "));
    panes_[3]->setText(mods & Qt::ShiftModifier ? QStringLiteral("SHIFT") : QStringLiteral(" "));
}

namespace {
template <class F>
std::function<bool()> flag(F f) {
    return [f] { return f() != 0; };
}
}  // namespace

void CMainFrame::install_builtin_commands() {
    Settings& s = settings();
    CVellumView& v = *view_;

    set_command(
        cmd::connect,
        [&v] {
            const Settings& st = settings();
            if (!st.host_name.empty() && st.port != 0) v.connect_to(st.host_name, st.port);
        },
        [&v] { return !v.net().busy(); });
    // Disconnect also while an attempt is outstanding, so a connection that hangs can be given up, and while the
    // automatic reconnect counts down, to stop it.
    set_command(
        cmd::disconnect,
        [this, &v] {
            if (retry_pending_ && !v.net().busy()) return cancel_auto_reconnect();
            if (!may_disconnect()) return;
            cancel_auto_reconnect();
            v.disconnect();
        },
        [this, &v] { return v.net().busy() || retry_pending_; });
    set_command(
        cmd::reconnect, [this] { reconnect(); }, [this] { return reconnect_possible(); });
    set_command(cmd::exit, [this] { close(); });

    set_command(cmd::select_all, [&v] { v.mouse().select_all(); });
    set_command(
        cmd::copy, [&v] { v.mouse().copy(); }, [&v] { return v.mouse().has_selection(); });
    set_command(
        cmd::append, [&v] { v.mouse().append(); }, [&v] { return v.mouse().has_selection(); });
    set_command(cmd::paste, [&v] { v.mouse().paste(); });
    set_command(cmd::reset_terminal, [&v] { v.reset_terminal(); });
    set_command(cmd::clear_scrollback, [&v] { v.clear_scrollback(); });
    set_command(cmd::find, [this] { find_bar_->open(); });

    auto toggle = [](int& field) { field = field ? 0 : 1; };
    set_command(
        cmd::ctrl_cv, [&s, toggle] { toggle(s.use_cv); }, {}, flag([&s] { return s.use_cv; }));
    set_command(
        cmd::local_echo,
        [&s, &v] {
            const bool on = !v.term().local_echo;
            s.local_echo = on ? 1 : 0;
            v.link().set_local_echo(on);
            v.settings_changed();
        },
        {}, [&v] { return v.term().local_echo; });
    // Host echo and the visual bell switch the running connection: the mark shows its value, not the stored one.
    set_command(
        cmd::host_echo,
        [&s, &v] {
            s.host_echo = v.term().host_echo ? 0 : 1;
            v.settings_changed();
        },
        {}, [&v] { return v.term().host_echo; });
    set_command(
        cmd::mouse_wheel, [&s, toggle] { toggle(s.wheel); }, {}, flag([&s] { return s.wheel; }));
    set_command(
        cmd::visual_bell,
        [&s, &v] {
            s.visual_bell = v.term().visual_bell ? 0 : 1;
            v.settings_changed();
        },
        {}, [&v] { return v.term().visual_bell; });
    set_command(
        cmd::raw_aux_print, [&s, toggle] { toggle(s.rawprint); }, {}, flag([&s] { return s.rawprint; }));
    set_command(
        cmd::cursor_blink,
        [&s, &v] {
            s.blink_cursor = ~s.blink_cursor;
            v.update_all();
        },
        {}, flag([&s] { return s.blink_cursor; }));
    set_command(
        cmd::autowrap,
        [&s, &v] {
            bool on = !v.terminal().auto_wrap_mode();
            v.terminal().set_auto_wrap_mode(on);
            s.auto_wrap = on ? 1 : 0;
        },
        {}, [&v] { return v.terminal().auto_wrap_mode() != 0; });
    set_command(
        cmd::swap_lf,
        [&s, &v] {
            bool on = !v.terminal().new_line_mode();
            v.terminal().set_new_line_mode(on);
            s.new_line = on ? 1 : 0;
        },
        {}, [&v] { return v.terminal().new_line_mode() != 0; });
    set_command(
        cmd::scroll_bar,
        [&s, &v, toggle] {
            toggle(s.scroll_bar);
            v.show_scroll_bar(s.scroll_bar != 0);
        },
        {}, flag([&s] { return s.scroll_bar; }));
    set_command(
        cmd::screen_132,
        [&v] {
            v.terminal().set_columns(v.columns() == 132 ? 80 : 132);
            v.terminal().clamp_column();
            v.refit();
            v.update_all();
        },
        {}, [&v] { return v.columns() == 132; });
    set_command(
        cmd::ssh_log, [&v] { v.net().toggle_debug_log(); }, {}, [&v] { return v.net().log_enabled(); });

    set_command(
        cmd::view_toolbar,
        [this, &s, toggle] {
            toggle(s.knap_bar);
            show_bars();
        },
        {}, flag([&s] { return s.knap_bar; }));
    set_command(
        cmd::view_status_bar,
        [this, &s, toggle] {
            toggle(s.status_bar);
            show_bars();
        },
        {}, flag([&s] { return s.status_bar; }));

    set_command(cmd::customize_toolbar, [this] { customize_toolbar(); });
    set_command(
        cmd::reset_config,
        [this] {
            if (reset_configuration(settings(), ui_, window_.get())) {
                show_bars();
                view_->show_scroll_bar(settings().scroll_bar != 0);
                relayout();
            }
        },
        [this] { return save_allowed(); });
    set_command(cmd::help_topics, [this] {
        open_help(QString(), [this](const QString& message) { ui_.message_box(message.toStdString()); });
    });
    set_command(cmd::about, [this] {
        QMessageBox::about(this, QStringLiteral("About Quill telnet"),
                           QStringLiteral("Quill W32 Telnet . Version 6.3"));
    });
    for (int n = 1; n <= 20; ++n) set_command(cmd::fkey(n), [this, n] { fkey_clicked(n); });
}

void CMainFrame::fkey_clicked(int n) {
    Qt::KeyboardModifiers mods = QGuiApplication::queryKeyboardModifiers();
    view_->function_key_command(n, mods & Qt::ShiftModifier, mods & Qt::ControlModifier);
    view_->setFocus();
}

// ---------------------------------------------------------------------------------------------------------------
// Layout

void CMainFrame::show_bars() {
    const Settings& s = settings();
    statusBar()->setVisible(s.status_bar != 0);
    if (toolbar_) toolbar_->setVisible(s.knap_bar != 0);
    request_relayout();
}

void CMainFrame::repaint_view() { view_->update_all(); }

void CMainFrame::request_relayout() {
    if (relayout_pending_) return;
    relayout_pending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (relayout_pending_) relayout();
    });
}

void CMainFrame::relayout() {
    relayout_pending_ = false;
    view_->refit();
    view_->update_all();
}

void CMainFrame::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    if (!isMinimized()) maximized_ = isMaximized();
}

void CMainFrame::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange) request_relayout();
}

bool CMainFrame::event(QEvent* e) { return QMainWindow::event(e); }

bool CMainFrame::eventFilter(QObject* watched, QEvent* e) {
    // Escape closes a menu but leaves its title highlighted and the menu bar holding the keyboard, so typed letters
    // would pick menus and items; once the menu is gone (its submenus close with Escape into it) the terminal, or
    // the find bar that had it, takes the keyboard back.
    if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape &&
        qobject_cast<QMenu*>(watched)) {
        QTimer::singleShot(0, this, [this] {
            if (QApplication::activePopupWidget()) return;
            QWidget* w = menu_focus_ && menu_focus_->isVisible() ? menu_focus_.data() : view_;
            w->setFocus(Qt::PopupFocusReason);
        });
    }
    if (watched == view_ && e->type() == QEvent::KeyPress) {
        const auto* ke = static_cast<QKeyEvent*>(e);
        const bool modifier_only = CVellumView::modifier_key(ke->key());
        if (ke->key() == Qt::Key_R && (ke->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier)) ==
                                          (Qt::ControlModifier | Qt::ShiftModifier)) {
            // Connected, the key belongs to the host.
            if (command_enabled(cmd::reconnect)) {
                run_command(cmd::reconnect);
                return true;
            }
        } else if (retry_pending_ && !modifier_only) {
            cancel_auto_reconnect();
            update_status_panes();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

// ---------------------------------------------------------------------------------------------------------------
// Reconnect and liveness

bool CMainFrame::reconnect_possible() const { return !view_->net().busy() && view_->link().has_target(); }

bool CMainFrame::reconnect(bool automatic) {
    if (!reconnect_possible()) return false;
    if (!automatic) cancel_auto_reconnect();
    retry_pending_ = false;
    // The earlier session stays on the screen; a divider written as host output marks where the new one starts,
    // once it stands: an attempt the host refuses must not claim it reconnected.
    view_->settings_changed();
    view_->terminal().reset_parser();
    divider_pending_ = true;

    reuse_sign_on_once(true);
    auto_attempt_ = automatic;
    if (automatic) view_->net().quiet_next_attempt();
    // Host, port, protocol and user come from the connection's memory; the settings stay as the user left them.
    const bool ok = view_->reconnect();
    update_status_panes();  // an attempt that failed at once is an ending like any other
    return ok;
}

bool CMainFrame::session_stands() {
    const session& net = view_->net();
    if (!net.connected() || net.setting_up()) return false;
    if (net.transport() == TransportKind::Telnet) return true;
    const ssh::ssh_client* c = view_->link().ssh();
    return c && c->signed_on();
}

void CMainFrame::write_divider() {
    if (!divider_pending_) return;
    if (!view_->net().busy()) {
        divider_pending_ = false;  // the attempt ended without standing
        return;
    }
    if (!session_stands()) return;
    divider_pending_ = false;
    vt& term = view_->terminal();
    const char* bar = term.options().utf8 ? "\u2500\u2500\u2500\u2500" : "----";
    const std::string stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")).toStdString();
    const std::string line =
        std::string(term.cursor_column() > 1 ? "\r\n" : "") + bar + " reconnected " + stamp + " " + bar + "\r\n";
    term.feed_text(line.c_str());
    view_->update_all();
}

void CMainFrame::cancel_auto_reconnect() {
    retry_pending_ = false;
    retry_attempt_ = 0;
    retry_in_ = 0;
    auto_attempt_ = false;
}

void CMainFrame::schedule_retry() {
    ++retry_attempt_;
    retry_in_ = reconnect_delay(retry_attempt_);
    retry_pending_ = true;
}

void CMainFrame::watch_progress() {
    write_divider();
    const session& net = view_->net();
    if (!net.busy()) return;
    if (!auto_attempt_) retry_pending_ = false;  // the user connected meanwhile
    // A connection that stands and is set up ends the back-off.
    if (net.connected() && !net.setting_up()) {
        retry_attempt_ = 0;
        auto_attempt_ = false;
    }
}

void CMainFrame::session_ended() {
    const session& net = view_->net();
    if (net.busy()) return;
    reuse_sign_on_once(false);
    const session_ending& end = net.last_ending();
    // A session that showed the host's output stood, however short: not a failed attempt of the back-off.
    if (end.unexpected) {
        retry_attempt_ = 0;
        auto_attempt_ = false;
    }
    if (end.by_user) {
        cancel_auto_reconnect();
    } else if (auto_attempt_ || (view_->link().profile().auto_reconnect && end.unexpected)) {
        // An attempt of the automatic reconnect that failed waits longer before the next; a session that was lost
        // starts the waits from the first.
        if (!auto_attempt_) retry_attempt_ = 0;
        auto_attempt_ = false;
        schedule_retry();
    }
    update_status_panes();
}

void CMainFrame::liveness_tick() {
    const session& net = view_->net();
    silence_.tick(net.connected() && !net.setting_up(), net.transport() != TransportKind::Telnet, net.bytes_received(),
                  net.answer_owed(), view_->link().profile().ssh.ssh_keepalive);
    watch_progress();
    if (retry_pending_ && !net.busy() && --retry_in_ <= 0) {
        if (!view_->link().profile().auto_reconnect) {
            cancel_auto_reconnect();
        } else {
            reconnect(true);
        }
    }
    update_status_panes();
}

void CMainFrame::set_title(const QString& host) {
    std::string t = document_title(host.toStdString(), start_);
    setWindowTitle(t.empty() ? QString::fromLatin1(app_title)
                             : QString::fromStdString(t) + QStringLiteral(" - ") + QString::fromLatin1(app_title));
}

// ---------------------------------------------------------------------------------------------------------------
// Toolbar

void CMainFrame::load_toolbar_table() {
    const Settings& s = settings();
    for (int i = 0; i < toolbar_rows_count; ++i) {
        rows_[i].used = s.newtoolbar[i].used != 0;
        rows_[i].position = s.newtoolbar[i].pos;
        rows_.set_text(i, s.newtoolbar[i].text);
    }
    if (!rows_.validate()) ui_.message_box(toolbar_registry_error);
}

void CMainFrame::rebuild_toolbar() {
    toolbar_->clear();
    for (int row : rows_.used_rows_in_order()) {
        QAction* a = row_actions_[row];
        a->setText(QString::fromLatin1(rows_[row].text));
        toolbar_->addAction(a);
        if (auto* b = qobject_cast<QToolButton*>(toolbar_->widgetForAction(a))) b->setMaximumWidth(180);
    }
    refresh_command_states();
}

void CMainFrame::collect_toolbar_layout() {
    std::vector<int> commands;
    for (QAction* a : toolbar_->actions()) {
        if (a->isSeparator()) continue;
        bool ok = false;
        int c = a->data().toInt(&ok);
        if (ok) commands.push_back(c);
    }
    rows_.collect(commands);
}

void CMainFrame::customize_toolbar() {
    collect_toolbar_layout();
    customize_dialog d(rows_, this);
    connect(&d, &customize_dialog::changed, this, [this] { rebuild_toolbar(); });
    d.exec();
    rebuild_toolbar();
}

// ---------------------------------------------------------------------------------------------------------------
// Closing

bool CMainFrame::may_close() {
    if (!view_->connected()) return true;
    // One question is enough: the disconnect one names the host.
    if (settings().confirm_disconnect)
        return ui_.ask_yes_no("Close the window and disconnect from " + view_->attempted_host() + "?");
    if (settings().confirm) return ui_.ask_yes_no(close_question);
    return true;
}

bool CMainFrame::may_disconnect() {
    if (!settings().confirm_disconnect || !view_->connected()) return true;
    return ui_.ask_yes_no("Disconnect from " + view_->attempted_host() + "?");
}

void CMainFrame::save_settings() {
    ::save_settings(settings(), store_, start_, window_.get());
    saved_ = true;
    if (const std::string problem = store_.save_problem(); !problem.empty()) ui_.message_box(problem);
}

void CMainFrame::closeEvent(QCloseEvent* e) {
    if (!may_close()) {
        e->ignore();
        return;
    }
    save_settings();
    if (view_->connected()) view_->disconnect();
    e->accept();
}
