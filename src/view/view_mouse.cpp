#include "view/view_mouse.h"

#include "view/view.h"

view_mouse::view_mouse(CVellumView& view) : view_(view) {}
view_mouse::~view_mouse() = default;

void view_mouse::mouse_press(QMouseEvent*) {}
void view_mouse::mouse_move(QMouseEvent*) {}
void view_mouse::mouse_release(QMouseEvent*) {}
void view_mouse::mouse_double_click(QMouseEvent*) {}
void view_mouse::wheel(QWheelEvent*) {}
void view_mouse::context_menu(QContextMenuEvent*) {}
void view_mouse::focus_in() {}
void view_mouse::key_pressed(bool) {}
void view_mouse::data_arrived() {}
bool view_mouse::has_selection() const { return false; }
void view_mouse::remove_selection() {}
void view_mouse::select_all() {}
void view_mouse::copy() {}
void view_mouse::append() {}
void view_mouse::paste() {}
