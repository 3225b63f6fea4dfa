#pragma once
// The terminal view: draws the screen ring of its connection (made here, kept by the document), turns key events
// into VT220 key codes, and owns the display state (fonts, cell size, blink phase, scroll-back position).
//
// What the mouse/selection code (view_mouse) may use:
//   cell_width(), cell_height()        pixels per cell after stretching (a double-width row uses twice the width)
//   columns(), rows()                  80 or 132, and 24 (screen_size 0); what fits the window (1)
//   cell_at(pixel)                     1-based (column, row) under a pixel, clamped into the grid
//   cell_rect(row, column)             pixel rectangle of a cell
//   scroll_position() / set_scroll_position(p)
//                                      1..200, 200 = live screen; setting moves the ring origin, syncs the
//                                      scroll bar and repaints everything
//   ring()                             the screen ring (cells carry the selection bit, see terminal/screen.h)
//   send_to_host(bytes)                the single outgoing path (paste)
//   update_all(), update_changed()     repaint everything / only the marked rows
//   has_focus_flag()                   whether the view has the keyboard focus
// The view forwards mouse, wheel, context-menu and focus-in events to view_mouse, tells it key_pressed()
// before a key is acted on and data_arrived() before host data is shown.
#include <QFont>
#include <QWidget>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "terminal/screen.h"
#include "view/find_text.h"
#include "view/keymap.h"
#include "view/render.h"

class QScrollBar;
class QUrl;
class QRegion;
class QPainter;
class QLine;
struct ring_line;
struct cell_palette;
class QTimer;
class CVellumDoc;
class view_mouse;
class vt;
class session;
class connection;
class screen_ring;
class view_host;
class connection_runtime;
struct ui_services;
struct socket_factory;
struct terminal_profile;
struct connection_profile;

class CVellumView : public QWidget {
    Q_OBJECT
public:
    // `sockets` makes the session's sockets (the Qt adapter in the client, fakes in tests); it outlives the view.
    CVellumView(CVellumDoc& doc, ui_services& ui, socket_factory& sockets, QWidget* parent = nullptr);
    ~CVellumView() override;

    // --- parts ------------------------------------------------------------------------------------------------
    screen_ring& ring();
    vt& terminal() { return *vt_; }
    session& net() { return *session_; }
    connection& link() { return *link_; }
    // The connection's timers, tunnels network and keep-alives.
    connection_runtime& runtime() { return *runtime_; }
    const connection& link() const { return *link_; }
    // The running connection's terminal options: the keyboard, the paste, titles and the bell follow them.
    const terminal_profile& term() const;
    view_mouse& mouse() { return *mouse_; }
    CVellumDoc& document() { return doc_; }

    // --- geometry ---------------------------------------------------------------------------------------------
    int cell_width() const { return cell_w_; }
    int cell_height() const { return cell_h_; }
    int columns() const;
    int rows() const;
    QPoint cell_at(QPoint pixel) const;
    QRect cell_rect(int row, int column) const;
    int character_extra() const { return char_extra_; }
    int line_gap() const { return line_gap_; }
    int descent() const { return descent_; }
    const QFont& screen_font() const { return font_; }

    // Fits the font to a client area of the frame; `reserved_h` is the height the frame's bars take.
    void fit_screen_font(int client_w, int client_h, int reserved_h);
    // Fits the font to the view's own size (after a font, column or bar change); with screen_size 1 the font
    // keeps its size and the grid takes what fits.
    void refit();
    // screen_size 1: the font's pixel height one step larger (+1) or smaller (-1), or back to the chosen one (0).
    void zoom(int step);
    // Width the scroll bar takes when shown.
    int scroll_bar_width() const;

    // --- scroll-back -----------------------------------------------------------------------------------------
    int scroll_position() const;
    void set_scroll_position(int pos);
    void show_scroll_bar(bool on);
    // Shift+PageUp / Shift+PageDown: a page (one row less than the screen) back or toward the live screen.
    void scroll_page(bool back);
    // The bar's range follows the history's length (and the scrollback_lines setting, handed to the ring here).
    void sync_scroll_bar();

    // --- find ---------------------------------------------------------------------------------------------------
    // The history (oldest first) and then the screen rows as find reads them: history_count() + rows() lines,
    // whatever the scroll position. Screen row r shows find line r + scroll_position() - 2.
    int find_lines() const;
    find_text::ring_source find_source() const;
    // Cells shown as found: columns first..last of find line `line`; `current` is framed as well.
    struct found_span {
        int line = 0, first = 0, last = 0;
        bool current = false;
    };
    // Replaces the found cells (any order) and repaints; host data clears them, since it moves the lines.
    void show_found(std::vector<found_span> spans);
    const std::vector<found_span>& found() const { return found_; }
    // Scrolls the least that shows find line `line` (toward the middle of the screen when it is out of view).
    void reveal_find_line(int line);

    // --- painting ---------------------------------------------------------------------------------------------
    void update_all();
    void update_changed();
    bool has_focus_flag() const { return focus_; }
    // The hyperlink (xterm's OSC 8) of a cell as the host gave it; empty when it has none.
    std::string_view link_at(int row, int col);
    // Ctrl+click and the context menu: shows the cell's link and opens it through the desktop once the user agrees
    // (http, https, ftp and mailto only). False when the cell has no link.
    bool open_link(int row, int col);
    // What opens an agreed link (QDesktopServices by default; tests record the URL instead).
    std::function<void(const QUrl&)> link_opener;
    // The bell: a sound or, with visual_bell, a brief flash of the view; the window asks for attention while it is
    // not the active one. Tests replace the sound and the attention request.
    void ring_bell();
    std::function<void()> bell_sound;
    std::function<void(QWidget*)> bell_alert;
    bool flashing() const { return flash_; }
    bool blink_phase() const { return blink_phase_; }
    void set_blink_phase(bool on) { blink_phase_ = on; }
    void blink_tick();  // timer 4
    // Renders the grid into an image of the view's size without touching the marks (tests, benchmarks).
    QImage render_image();

    // --- data paths -------------------------------------------------------------------------------------------
    void send_to_host(const std::uint8_t* data, std::size_t n);
    void display_from_host(const std::uint8_t* data, std::size_t n);
    // A connection with the settings as they are now (and ~/.ssh/config for an SSH host), to host:port; then
    // repaints everything.
    bool connect_to(const std::string& host, int port);
    // -J of the command line: the way to `host` (the launch's) for this run.
    void set_launch_jump(std::string host, std::string chain) {
        launch_jump_host_ = std::move(host);
        launch_jump_ = std::move(chain);
    }
    // The latest target again (host, port, protocol, user of that connection) with today's other settings.
    bool reconnect();
    void disconnect();
    // The user changed the settings: the connection takes the terminal options it follows while connected.
    void settings_changed();
    bool connected() const;
    const std::string& attempted_host() const { return attempt_host_; }  // of the latest connect attempt
    void reset_terminal();                                               // "&Reset Terminal"
    void clear_scrollback();                                             // "C&lear Scroll-back"
    void function_key_command(int n, bool shift, bool ctrl);             // toolbar F1..F20

    // --- status panes -----------------------------------------------------------------------------------------
    QString security_text() const;
    QString security_tip() const;
    QString position_text() const;
    QString connection_text() const;  // the message pane

    // One-time automatic connection at start: connects to the stored host when the flag is still set and
    // `autoconnect` is 1. Returns true when it connected.
    bool run_autoconnect();
    bool autoconnect_pending() const { return autoconnect_pending_; }

    // The keyboard layer's modes (emulator flags and settings).
    key_modes current_key_modes() const;
    // Shift, Ctrl, Alt and the other keys that only change what the next key means.
    static bool modifier_key(int qt_key);
    bool reverse_screen() const { return reverse_screen_; }

    // Set by the SSH engines, for the security pane. Unset: no SSH.
    struct ssh_state {
        bool id_sent = false;  // the SSH identification has been sent
        int ssh1_state = 0;    // 0..5
        bool ssh2_keys_active = false;
        std::string_view ssh2_cipher;  // the negotiated cipher; empty: none to show
        std::string_view kex;          // the agreed key exchange method; empty: none yet
        bool post_quantum = false;
    };
    std::function<ssh_state()> ssh_status;
    // Runs before each piece of host data reaches the terminal: what must come first goes there (the reconnect
    // divider, held until the new session stands).
    std::function<void()> host_data_coming;

signals:
    void columns_changed();  // the frame refits the font
    void grid_changed();     // rows() or columns() changed: the frame tells the host (screen_size 1)
    void title_changed(const QString& host);
    // A connection or an attempt ended (net().last_ending() says how), pushed once the session let go of it.
    void session_ended();
    void session_ended_exit();  // the host closed and `exit` is on
    void find_requested();      // Ctrl+Shift+F
    // Local files dropped on the terminal (file URLs of a text/uri-list); the frame uploads them.
    void files_dropped(const QStringList& paths);

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery q) const override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool focusNextPrevChild(bool) override { return false; }  // Tab goes to the host
    bool event(QEvent* e) override;

private:
    // ~/.ssh/config for an SSH profile; what could not be read is told, and the connection goes on. False (told)
    // when the jump hosts it names cannot be used: nothing is connected then.
    bool take_ssh_config(connection_profile& p);
    std::string launch_jump_host_, launch_jump_;
    friend class view_host;
    QRect row_rect(int row) const;
    QFont make_font(int pixel_height) const;
    // A cell of the font at this pixel height: the advance of 'M' and the line spacing, rounded up.
    cell_metrics measure_cell(int pixel_height) const;
    // The fonts for one cell size (font_height pixels, a cell of cell_w x cell_h with the given extra spacing).
    void apply_font(int font_height, int cell_w, int cell_h, int char_extra, int line_gap);
    void fit_window_grid();
    void mark_view_row(int row);
    void invalidate_marked();
    void paint_rows(QPainter& p, int first, int last, const QRegion& painted);
    bool row_covered(int row, const QRegion& painted) const;
    void paint_run(QPainter& p, int r, int c0, int c1, int cw, const ring_line& ln, std::uint32_t key, bool dtop,
                   bool dbottom, const cell_palette& pal);
    void draw_text(QPainter& p, int x, int top, const QString& text, const QColor& ink, bool double_width);
    void draw_cursor_overlay(QPainter& p, const QRect& cell, int type, std::uint8_t ch, const QColor& ink);
    void run_key_result(const key_result& r);
    void connection_starting();
    void scroll_bar_moved(int value);

    CVellumDoc& doc_;
    ui_services& ui_;
    std::unique_ptr<view_host> host_;
    std::unique_ptr<connection_runtime> runtime_;  // outlives the document's connection, which calls into it
    std::unique_ptr<keyboard> keys_;
    connection* link_ = nullptr;  // the document's
    vt* vt_ = nullptr;            // link_'s emulator and session
    session* session_ = nullptr;
    std::unique_ptr<view_mouse> mouse_;
    QScrollBar* bar_ = nullptr;
    QTimer* blink_timer_ = nullptr;
    QTimer* repaint_timer_ = nullptr;
    QTimer* flash_timer_ = nullptr;
    bool flash_ = false;  // the visual bell is showing: the view is drawn inverted
    QFont font_;
    QFont italic_font_;                   // font_ in its italic face, made with it
    QFont bold_font_, bold_italic_font_;  // the bold faces, for bold text in the xterm emulation
    int strike_out_ = 0;                  // the strike-out line's height above the baseline
    bool have_font_ = false;
    int cell_w_ = 4, cell_h_ = 4, char_extra_ = 0, line_gap_ = 0, descent_ = 0, ascent_ = 0;
    bool blink_phase_ = false;
    bool reverse_screen_ = false;
    bool focus_ = true;
    bool pending_all_ = true;
    bool extra_rows_[max_rows] = {};
    int zoom_ = 0;          // pixels added to the chosen font height (screen_size 1)
    bool fitting_ = false;  // inside refit: the emulator's resize calls back
    int last_cursor_row_ = 1;
    bool autoconnect_pending_ = true;
    bool attempted_ = false;    // a connection was started in this run
    std::string attempt_host_;  // of the latest connect attempt, for the message pane
    bool maps_loaded_ = false;
    std::vector<found_span> found_;  // sorted by line and column
};
