#pragma once
// Selection, clipboard, mouse wheel and context menu of the terminal view. The view owns one instance and
// forwards its mouse, wheel, context-menu and focus-in events to it, and tells it about keys and host data so
// that a shown selection can be removed. The selection holds lines of the whole text (the ring's line_at numbers),
// so that it reaches into the history and a drag past the top or bottom edge scrolls. The highlight is the
// selected bit of the ring's cell marks:
// update_highlight() (run by update_all / update_changed before painting) sets and clears it and marks the cells
// whose highlight changed; the painter shows cells with that bit reversed.
#include <QPoint>
#include <QRect>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "dialogs/selection.h"
#include "terminal/mouse.h"

class CVellumView;
class QContextMenuEvent;
class QMenu;
class QMouseEvent;
class QWheelEvent;
class screen_ring;

// What the selection code needs from the view; the real view is wrapped, tests supply their own.
struct mouse_host {
    virtual ~mouse_host() = default;
    virtual screen_ring& ring() = 0;
    virtual int columns() const = 0;
    virtual QPoint cell_at(QPoint pixel) const = 0;  // (column, row), clamped into the grid
    virtual QRect client_rect() const = 0;           // in global coordinates
    virtual bool has_focus() const = 0;
    virtual int scroll_position() const = 0;
    virtual void set_scroll_position(int pos) = 0;  // moves the origin, syncs the bar, repaints everything
    virtual int live_position() const { return selection::scroll_live; }  // the live screen's scroll position
    virtual void send_to_host(const std::uint8_t* data, std::size_t n) = 0;
    virtual void update_all() = 0;
    virtual void update_changed() = 0;
    virtual bool wheel_enabled() const = 0;                 // setting `wheel`
    virtual int wheel_lines() const { return 1; }           // setting `wheel_lines`: lines a notch
    virtual bool bracketed_paste() const { return false; }  // the emulator's DECSET 2004
    // The running connection's text encoding: UTF-8, or the code page of a script (`font_charset`).
    virtual bool utf8() const { return false; }
    virtual int text_script() const { return 0; }
    // The mouse reporting the host asked for (xterm); off leaves the mouse to the selection.
    virtual mouse_tracking tracking() const { return mouse_tracking::off; }
    virtual mouse_encoding encoding() const { return mouse_encoding::x10; }
    // Ctrl+click: opens the hyperlink of the cell (column, row) through the desktop; false when it has none.
    virtual bool open_link(QPoint cell) {
        (void)cell;
        return false;
    }
    virtual bool has_link(QPoint cell) {
        (void)cell;
        return false;
    }
};

class view_mouse {
public:
    explicit view_mouse(CVellumView& view);
    explicit view_mouse(std::unique_ptr<mouse_host> host);
    ~view_mouse();

    void mouse_press(QMouseEvent* e);
    void mouse_move(QMouseEvent* e);
    void mouse_release(QMouseEvent* e);
    void mouse_double_click(QMouseEvent* e);
    void wheel(QWheelEvent* e);
    void context_menu(QContextMenuEvent* e);
    void focus_in();

    // A key is about to be acted on; `ctrl_only` when the key is Ctrl itself (which keeps the selection).
    void key_pressed(bool ctrl_only);
    // Host data is about to be shown.
    void data_arrived();

    bool has_selection() const;
    void remove_selection();
    void select_all();
    void copy();
    void append();
    void paste();
    static bool clipboard_has_text();

    // Display side: brings the cell marks in line with the selection, and what the painter shows reversed.
    void update_highlight();
    bool highlighted(int row, int column) const;

    const selection::state& state() const { return sel_; }
    // Whole seconds of the clock used by the focus rule (tests set their own).
    void set_clock(std::function<std::int64_t()> clock) { clock_ = std::move(clock); }

    // The X11 PRIMARY selection: set when a selection is made, pasted by the middle button. The defaults use the
    // platform's selection clipboard when it has one (tests set their own; the offscreen platform has none).
    struct primary_port {
        std::function<void(const QString&)> set;
        std::function<QString()> get;
    };
    void set_primary(primary_port p) { primary_ = std::move(p); }
    // The context menu as it would be shown at the cell (column, row) (tests inspect it without running it); "Open
    // Link" leads it when the cell has a hyperlink.
    std::unique_ptr<QMenu> make_context_menu(QPoint cell = {});

private:
    void copy_to_clipboard(bool append);
    QString selected_text() const;
    void offer_primary();
    void paste_text(const QString& text);
    // Reports the event to the host when it asked for the mouse and Shift is not held; true when reported (or
    // swallowed because these modes do not report it).
    bool report(QMouseEvent* e, mouse_event::kind_t kind);
    bool reporting(Qt::KeyboardModifiers mods) const;
    void repaint(bool all);
    std::uint8_t char_at(int line, int col) const;
    // Lines the view is scrolled back: screen row r shows line r - depth().
    int depth() const { return host_->live_position() - host_->scroll_position(); }
    // The line under a pointer position; past the top or bottom edge the view first scrolls a line that way.
    int line_under(QPointF pixel);

    std::unique_ptr<mouse_host> host_;
    selection::state sel_;
    std::int64_t focus_time_ = 0;
    std::function<std::int64_t()> clock_;
    primary_port primary_;
    bool dragged_ = false;  // the pointer left the pressed cell, so the release offers the block as PRIMARY
    QPoint reported_cell_;  // the cell of the last reported motion: moves inside one cell are not reported
    int wheel_rest_ = 0;    // wheel units times lines not yet scrolled (a fine-grained wheel adds up to a line)
};
