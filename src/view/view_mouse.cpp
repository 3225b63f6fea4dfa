#include "view/view_mouse.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>

#include "config/settings.h"
#include "terminal/charset.h"
#include "terminal/screen.h"

namespace {

std::int64_t wall_seconds() { return QDateTime::currentSecsSinceEpoch(); }

view_mouse::primary_port platform_primary() {
    return {[](const QString& text) {
                QClipboard* cb = QGuiApplication::clipboard();
                if (cb->supportsSelection()) cb->setText(text, QClipboard::Selection);
            },
            [] {
                QClipboard* cb = QGuiApplication::clipboard();
                return cb->supportsSelection() ? cb->text(QClipboard::Selection) : QString();
            }};
}

}  // namespace

view_mouse::view_mouse(std::unique_ptr<mouse_host> host)
    : host_(std::move(host)), clock_(wall_seconds), primary_(platform_primary()) {}

view_mouse::~view_mouse() = default;

std::uint8_t view_mouse::char_at(int line, int col) const {
    const ring_line& l = host_->ring().line_at(line);
    const std::uint32_t cell = l.cell(col);
    // A code point beyond one byte (utf8), or the right half of a wide character, is part of a word whatever its
    // low byte.
    if ((cell & cell_code_high_mask) || wide_tail(cell, col > 1 ? l.cell(col - 1) : 0)) return 0xFF;
    return static_cast<std::uint8_t>(cell & cell_char_mask);
}

int view_mouse::line_under(QPointF pixel) {
    const QRect area = host_->client_rect();
    const int pos = host_->scroll_position();
    if (pixel.y() < 0 && pos > selection::scroll_min)
        host_->set_scroll_position(pos - 1);
    else if (pixel.y() >= area.height() && pos < host_->live_position())
        host_->set_scroll_position(pos + 1);
    return host_->cell_at(pixel.toPoint()).y() - depth();
}

bool view_mouse::reporting(Qt::KeyboardModifiers mods) const {
    // Shift keeps the local selection, as in xterm; history being viewed is not the host's screen.
    return host_->tracking() != mouse_tracking::off && !(mods & Qt::ShiftModifier) &&
           host_->scroll_position() == host_->live_position();
}

bool view_mouse::report(QMouseEvent* e, mouse_event::kind_t kind) {
    if (!reporting(e->modifiers())) return false;
    e->accept();
    const QPoint c = host_->cell_at(e->position().toPoint());
    mouse_event ev;
    ev.kind = kind;
    ev.row = c.y();
    ev.column = c.x();
    const Qt::MouseButton b = kind == mouse_event::motion ? Qt::NoButton : e->button();
    const Qt::MouseButtons held = e->buttons();
    if (kind == mouse_event::motion) {
        if (c == reported_cell_) return true;
        ev.button = held & Qt::LeftButton ? 0 : held & Qt::MiddleButton ? 1 : held & Qt::RightButton ? 2 : 3;
    } else {
        ev.button = b == Qt::LeftButton ? 0 : b == Qt::MiddleButton ? 1 : b == Qt::RightButton ? 2 : -1;
    }
    reported_cell_ = c;
    ev.shift = false;
    ev.alt = e->modifiers() & Qt::AltModifier;
    ev.ctrl = e->modifiers() & Qt::ControlModifier;
    char out[mouse_report_capacity];
    if (const size_t n = encode_mouse(host_->tracking(), host_->encoding(), ev, out))
        host_->send_to_host(reinterpret_cast<const std::uint8_t*>(out), n);
    return true;
}

void view_mouse::mouse_press(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && (e->modifiers() & Qt::ControlModifier) &&
        host_->open_link(host_->cell_at(e->position().toPoint()))) {
        e->accept();
        return;
    }
    if (report(e, mouse_event::press)) return;
    if (e->button() == Qt::MiddleButton) {
        e->accept();
        if (primary_.get) paste_text(primary_.get());
        return;
    }
    if (e->button() != Qt::LeftButton) {
        e->ignore();
        return;
    }
    e->accept();
    if (!selection::click_allowed(host_->has_focus(), clock_(), focus_time_)) return;
    const QPoint c = host_->cell_at(e->position().toPoint());
    sel_.start_col = sel_.end_col = c.x();
    sel_.start_row = sel_.end_row = c.y() - depth();
    sel_.shown = true;
    dragged_ = false;
    // The block of an earlier drag goes now: a click with no move is a one-cell selection, and Copy takes that.
    repaint(false);
}

void view_mouse::mouse_move(QMouseEvent* e) {
    if (report(e, mouse_event::motion)) return;
    if (!(e->buttons() & Qt::LeftButton)) {
        e->ignore();
        return;
    }
    e->accept();
    const int line = line_under(e->position());
    const int col = host_->cell_at(e->position().toPoint()).x();
    if (col == sel_.end_col && line == sel_.end_row) return;
    sel_.end_col = col;
    sel_.end_row = line;
    dragged_ = true;
    repaint(false);
}

void view_mouse::mouse_release(QMouseEvent* e) {
    if (report(e, mouse_event::release)) return;
    e->ignore();
    // A plain click leaves PRIMARY alone, as in other X programs.
    if (e->button() == Qt::LeftButton && dragged_ && sel_.shown) offer_primary();
    dragged_ = false;
}

void view_mouse::mouse_double_click(QMouseEvent* e) {
    // Qt gives the second press of a double click as this event; the host sees a press.
    if (report(e, mouse_event::press)) return;
    if (e->button() != Qt::LeftButton) {
        e->ignore();
        return;
    }
    e->accept();
    const QPoint c = host_->cell_at(e->position().toPoint());
    int first = 0, last = 0;
    const int line = c.y() - depth();
    selection::word_span([this](int r, int col) { return char_at(r, col); }, line, c.x(), host_->columns(), first,
                         last);
    sel_.start_row = sel_.end_row = line;
    sel_.start_col = first;
    sel_.end_col = last;
    sel_.shown = true;
    repaint(true);
    offer_primary();
}

void view_mouse::wheel(QWheelEvent* e) {
    const int delta = e->angleDelta().y();
    if (delta != 0 && reporting(e->modifiers())) {
        e->accept();
        mouse_event ev;
        ev.kind = delta > 0 ? mouse_event::wheel_up : mouse_event::wheel_down;
        const QPoint c = host_->cell_at(e->position().toPoint());
        ev.row = c.y();
        ev.column = c.x();
        ev.alt = e->modifiers() & Qt::AltModifier;
        ev.ctrl = e->modifiers() & Qt::ControlModifier;
        char out[mouse_report_capacity];
        const size_t n = encode_mouse(host_->tracking(), host_->encoding(), ev, out);
        // One report a notch (120 units); a fine-grained wheel still gives one per event.
        for (int i = std::max(1, std::abs(delta) / 120); n && i > 0; --i)
            host_->send_to_host(reinterpret_cast<const std::uint8_t*>(out), n);
        return;
    }
    if (!host_->wheel_enabled() || delta == 0) {
        e->ignore();
        return;
    }
    e->accept();
    const int old_pos = host_->scroll_position();
    int pos = old_pos;
    const int live = host_->live_position();
    if (const int lines = host_->wheel_lines(); lines <= 1) {
        pos = selection::wheel_position(old_pos, delta, live);  // one line a message, however far it turned
    } else {
        // `lines` a notch of 120 units; turning back drops what the other way left over.
        if (wheel_rest_ != 0 && (wheel_rest_ < 0) != (delta < 0)) wheel_rest_ = 0;
        wheel_rest_ += delta * std::min(lines, live);
        const int steps = wheel_rest_ / 120;
        wheel_rest_ -= steps * 120;
        pos = std::clamp(old_pos - steps, selection::scroll_min, live);
    }
    // At a limit nothing moves, and the selection stays as it is (visible and copyable alike); once the view
    // moves, the selected cells would no longer be the ones shown, so the selection goes.
    if (pos == old_pos) return;
    sel_.shown = false;
    update_highlight();
    host_->set_scroll_position(pos);
}

std::unique_ptr<QMenu> view_mouse::make_context_menu(QPoint cell) {
    auto menu = std::make_unique<QMenu>();
    if (!cell.isNull() && host_->has_link(cell)) {
        QObject::connect(menu->addAction(QStringLiteral("Open Link...")), &QAction::triggered,
                         [this, cell] { host_->open_link(cell); });
        menu->addSeparator();
    }
    QObject::connect(menu->addAction(QStringLiteral("Select All")), &QAction::triggered, [this] { select_all(); });
    // The same enable rules as the Edit menu.
    QAction* c = menu->addAction(QStringLiteral("Copy"));
    c->setEnabled(has_selection());
    QObject::connect(c, &QAction::triggered, [this] { copy(); });
    QAction* p = menu->addAction(QStringLiteral("Paste"));
    p->setEnabled(clipboard_has_text());
    QObject::connect(p, &QAction::triggered, [this] { paste(); });
    QAction* a = menu->addAction(QStringLiteral("Append"));
    a->setEnabled(has_selection());
    QObject::connect(a, &QAction::triggered, [this] { append(); });
    return menu;
}

void view_mouse::context_menu(QContextMenuEvent* e) {
    if (e->reason() == QContextMenuEvent::Mouse && reporting(e->modifiers())) {
        e->accept();  // the right button went to the host
        return;
    }
    if (!host_->client_rect().contains(e->globalPos())) {
        e->ignore();
        return;
    }
    e->accept();
    auto menu = make_context_menu(host_->cell_at(e->pos()));
    menu->exec(e->globalPos());
}

void view_mouse::repaint(bool all) {
    // The highlight is brought up to date here as well as by the view's own updates, so a selection change shows
    // even when the view repaints only the rows it finds marked.
    update_highlight();
    if (all)
        host_->update_all();
    else
        host_->update_changed();
}

void view_mouse::focus_in() { focus_time_ = clock_(); }

void view_mouse::key_pressed(bool ctrl_only) {
    if (sel_.shown && !ctrl_only) remove_selection();
}

void view_mouse::data_arrived() {
    if (sel_.shown) remove_selection();
}

bool view_mouse::has_selection() const { return sel_.shown; }

void view_mouse::remove_selection() {
    sel_.shown = false;
    repaint(true);
}

void view_mouse::select_all() {
    // The rows shown, as the history scrolled back shows them.
    sel_.start_col = 1;
    sel_.start_row = 1 - depth();
    sel_.end_col = host_->columns();
    sel_.end_row = host_->ring().rows() - depth();
    sel_.shown = true;
    repaint(true);
    offer_primary();
}

bool view_mouse::clipboard_has_text() {
    // Polled by the idle timer for the Paste button: ask only whether a text format is offered. Reading the text
    // itself would fetch the whole clipboard from its owner five times a second.
    const QMimeData* m = QGuiApplication::clipboard()->mimeData();
    return m && m->hasText();
}

QString view_mouse::selected_text() const {
    // The clipboard gets the characters the view shows: bytes in the script's code page, or code points (utf8).
    const bool utf8 = host_->utf8();
    const int page = code_page_of_script(host_->text_script());
    const screen_ring& ring = host_->ring();
    std::u32string block;
    selection::for_each_block_row(
        sel_, [&](int r, int first, int last) { append_cells_text(block, ring.line_at(r), first, last, utf8, page); },
        [&] {
            for (char ch : selection::clipboard_line_end) block += char32_t(ch);
        });
    QString text = QString::fromUcs4(block.data(), static_cast<qsizetype>(block.size()));
    // The clipboard text ends at a zero byte, as a C string would.
    if (const auto z = text.indexOf(QChar(0)); z >= 0) text.truncate(z);
    return text;
}

void view_mouse::offer_primary() {
    if (sel_.shown && primary_.set) primary_.set(selected_text());
}

void view_mouse::copy_to_clipboard(bool append) {
    if (!sel_.shown) return;
    QString text = selected_text();
    QClipboard* cb = QGuiApplication::clipboard();
    // What the clipboard held is kept as it is, characters outside Latin-1 included.
    if (append) {
        QString before = cb->text();
        if (const auto z = before.indexOf(QChar(0)); z >= 0) before.truncate(z);
        text = before +
               QString::fromLatin1(selection::clipboard_line_end.data(),
                                   static_cast<qsizetype>(selection::clipboard_line_end.size())) +
               text;
    }
    cb->setText(text);
    remove_selection();
}

void view_mouse::copy() { copy_to_clipboard(false); }
void view_mouse::append() { copy_to_clipboard(true); }

void view_mouse::paste() {
    const QMimeData* m = QGuiApplication::clipboard()->mimeData();
    if (!m || !m->hasText()) return;
    paste_text(m->text());
}

void view_mouse::paste_text(const QString& text) {
    // Characters go in the script's code page (those it lacks as '?'), or as UTF-8.
    const QList<uint> chars = text.toUcs4();
    const std::string bytes = encode_text(
        std::u32string_view(reinterpret_cast<const char32_t*>(chars.constData()), std::size_t(chars.size())),
        host_->utf8(), code_page_of_script(host_->text_script()));
    selection::for_each_paste_byte(
        bytes, [this](std::uint8_t b) { host_->send_to_host(&b, 1); }, host_->bracketed_paste());
}

void view_mouse::update_highlight() {
    // The selected bit of the cell marks is the highlight itself; anything that wiped it (a row marked whole,
    // the ring rotated) is put right here, and only cells whose highlight changes are marked for repaint.
    screen_ring& ring = host_->ring();
    const int cols = host_->columns();
    const int depth = this->depth();
    for (int r = 1; r <= ring.rows(); ++r) {
        int first = 0, last = -1;
        const bool any = sel_.shown && selection::row_span(sel_, r - depth, first, last);
        bool changed = false;
        for (int c = 1; c <= ring.width(); ++c) {
            const bool want = any && c >= first && c <= last && c <= cols;
            std::uint8_t& mark = ring.cell_mark(r, c);
            if (want == ((mark & mark_selected) != 0)) continue;
            mark = want ? (mark_selected | mark_repaint) : mark_repaint;
            changed = true;
        }
        if (changed) ring.set_row_mark(r);
    }
}

bool view_mouse::highlighted(int row, int column) const {
    const screen_ring& ring = host_->ring();
    if (row < 1 || row > ring.rows() || column < 1 || column > ring.width()) return false;
    return (ring.cell_mark(row, column) & mark_selected) != 0;
}
