#pragma once
// Selection, clipboard, mouse wheel and context menu of the terminal view. The view owns one instance and
// forwards its mouse, wheel, context-menu and focus-in events to it, and tells it about keys and host data so
// that a shown selection can be removed.
class CVellumView;
class QMouseEvent;
class QWheelEvent;
class QContextMenuEvent;

class view_mouse {
public:
    explicit view_mouse(CVellumView& view);
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

private:
    CVellumView& view_;
};
