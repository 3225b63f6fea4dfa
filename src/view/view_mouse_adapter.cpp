// The real view behind view_mouse; kept apart so the selection code can be tested without the whole view.
#include "config/settings.h"
#include "session/connection.h"
#include "terminal/vt.h"
#include "view/view.h"
#include "view/view_mouse.h"

namespace {

class view_host_adapter : public mouse_host {
public:
    explicit view_host_adapter(CVellumView& v) : v_(v) {}
    screen_ring& ring() override { return v_.ring(); }
    int columns() const override { return v_.columns(); }
    QPoint cell_at(QPoint pixel) const override { return v_.cell_at(pixel); }
    QRect client_rect() const override { return QRect(v_.mapToGlobal(QPoint(0, 0)), v_.size()); }
    bool has_focus() const override { return v_.has_focus_flag(); }
    int scroll_position() const override { return v_.scroll_position(); }
    void set_scroll_position(int pos) override { v_.set_scroll_position(pos); }
    int live_position() const override { return v_.ring().live_position(); }
    void send_to_host(const std::uint8_t* data, std::size_t n) override { v_.send_to_host(data, n); }
    void update_all() override { v_.update_all(); }
    void update_changed() override { v_.update_changed(); }
    bool wheel_enabled() const override { return settings().wheel != 0; }
    int wheel_lines() const override { return settings().wheel_lines; }
    bool bracketed_paste() const override { return v_.terminal().bracketed_paste(); }
    bool utf8() const override { return v_.link().profile().terminal.utf8; }
    int text_script() const override { return v_.link().profile().terminal.font_charset; }
    mouse_tracking tracking() const override { return v_.terminal().mouse_mode(); }
    mouse_encoding encoding() const override { return v_.terminal().mouse_coding(); }
    bool open_link(QPoint cell) override { return v_.open_link(cell.y(), cell.x()); }
    bool has_link(QPoint cell) override { return !v_.link_at(cell.y(), cell.x()).empty(); }

private:
    CVellumView& v_;
};

}  // namespace

view_mouse::view_mouse(CVellumView& view) : view_mouse(std::make_unique<view_host_adapter>(view)) {}
