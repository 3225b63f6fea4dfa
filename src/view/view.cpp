#include "view/view.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QDesktopServices>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QTime>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <tuple>

#include "adapters/connection_runtime.h"
#include "adapters/event_pump.h"
#include "config/maps.h"
#include "config/settings.h"
#include "config/ui_services.h"
#include "session/connection.h"
#include "session/session.h"
#include "terminal/vt.h"
#include "view/box_glyphs.h"
#include "view/document.h"
#include "view/font_face.h"
#include "view/render.h"
#include "view/view_mouse.h"

namespace {
constexpr int blink_ms = 600;
// Painter run keys beyond the cell's attribute bits and the selected bit 0x10000.
constexpr uint32_t found_bit = 0x20000u;
constexpr uint32_t current_bit = 0x40000u;
constexpr int repaint_coalesce_ms = 15;  // host floods repaint at most ~60 times a second
constexpr int flash_ms = 100;            // the visual bell: long enough to see, short enough not to hide text

// A cell's character, or its base and combining marks.
QString code_text(uint32_t u) {
    const std::u32string_view marks = cluster_text(u);
    return marks.empty() ? QString::fromUcs4(reinterpret_cast<const char32_t*>(&u), 1)
                         : QString::fromUcs4(marks.data(), static_cast<qsizetype>(marks.size()));
}
}  // namespace

// Everything the emulator and the session ask of the window.
class view_host final : public vt_host, public session_view, public session_clock {
public:
    explicit view_host(CVellumView& v) : v_(v) {}

    // vt_host
    void bell() override { v_.ring_bell(); }
    void columns_changed(int) override {
        v_.ring().scroll_to_live();
        v_.refit();
        emit v_.columns_changed();
        v_.update_all();
    }
    void set_reverse_screen(bool on) override {
        v_.reverse_screen_ = on;
        v_.update_all();
    }
    void set_local_echo(bool on) override { v_.link_->set_local_echo(on); }
    void update_changed() override {
        // Any-motion tracking needs moves without a button held.
        const bool moves = v_.vt_->mouse_mode() == mouse_tracking::any;
        if (v_.hasMouseTracking() != moves) v_.setMouseTracking(moves);
        v_.update_changed();
    }
    void colours_changed() override { v_.update_all(); }
    uint32_t user_colour(special_colour which) const override {
        const Settings& s = settings();
        return uint32_t(bgr_of_rgb(uint32_t(which == special_fg   ? s.color_fg
                                            : which == special_bg ? s.color_bg
                                                                  : s.color_cursor)));
    }
    void set_clipboard(std::string_view text) override {
        QGuiApplication::clipboard()->setText(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
    }
    void pixel_size(int& area_w, int& area_h, int& cell_w, int& cell_h) const override {
        cell_w = v_.cell_w_;
        cell_h = v_.cell_h_;
        area_w = cell_w * v_.ring().columns();
        area_h = cell_h * v_.rows();
    }

    // session_view
    bool pump_pending_messages() override { return pump_.pump(); }
    void before_host_data() override {
        if (v_.host_data_coming) v_.host_data_coming();
        v_.mouse_->data_arrived();
        if (!v_.found_.empty()) v_.show_found({});
        if (!v_.ring().at_live()) v_.set_scroll_position(v_.ring().live_position());
    }
    void update_all() override { v_.update_all(); }
    void connection_starting() override { v_.connection_starting(); }
    void show_host_in_title(std::string_view host) override {
        host_title_ = QString::fromLatin1(host.data(), static_cast<int>(host.size()));
        emit v_.title_changed(host_title_);
    }
    void clear_host_from_title() override {
        host_title_.clear();
        emit v_.title_changed(QString());
    }
    // The host's titles popped off the stack: the window names the host again.
    void restore_own_title() override { emit v_.title_changed(host_title_); }
    // The host's own title (xterm's OSC 0/2), in the bytes' encoding.
    void set_title(std::string_view title) override {
        const auto n = static_cast<int>(title.size());
        emit v_.title_changed(v_.term().utf8 ? QString::fromUtf8(title.data(), n)
                                             : QString::fromLatin1(title.data(), n));
    }
    void post_exit_command() override {
        QTimer::singleShot(0, &v_, [v = &v_] { emit v->session_ended_exit(); });
    }

    // session_clock
    local_time now() override {
        QTime t = QTime::currentTime();
        return {t.hour(), t.minute(), t.second(), t.msec()};
    }

private:
    CVellumView& v_;
    paced_event_pump pump_;
    QString host_title_;  // what the connection put in the title, before any host title
};

CVellumView::CVellumView(CVellumDoc& doc, ui_services& ui, socket_factory& sockets, QWidget* parent)
    : QWidget(parent), doc_(doc), ui_(ui) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Dead keys and compose sequences arrive only through the input method, as committed text.
    setAttribute(Qt::WA_InputMethodEnabled, true);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    setAcceptDrops(true);

    host_ = std::make_unique<view_host>(*this);
    runtime_ = std::make_unique<connection_runtime>();
    link_ = &doc.open(std::make_unique<connection>(connection_parts{
        sockets, runtime_->setup_timer(), ui_, *host_, *host_, host_.get(), nettopc_table(), pctonet_table()}));
    vt_ = &link_->terminal();
    session_ = &link_->net();
    runtime_->attach(*link_);
    // Text written before any connection (local messages, a replayed log) already follows the configuration.
    runtime_->apply(connection_profile::from(settings(), {}, 0));
    link_->set_ending_listener([this](const session_ending&) { emit session_ended(); });
    keys_ = std::make_unique<keyboard>([](int i) { return key_table()[static_cast<std::size_t>(i)].view(); },
                                       pctonet_table().data());
    mouse_ = std::make_unique<view_mouse>(*this);

    bar_ = new QScrollBar(Qt::Vertical, this);
    bar_->setRange(1, ring().live_position());
    bar_->setSingleStep(1);
    bar_->setPageStep(rows());
    bar_->setValue(ring().live_position());
    bar_->setFocusPolicy(Qt::NoFocus);
    connect(bar_, &QScrollBar::valueChanged, this, &CVellumView::scroll_bar_moved);
    show_scroll_bar(settings().scroll_bar != 0);

    blink_timer_ = new QTimer(this);
    blink_timer_->setInterval(blink_ms);
    connect(blink_timer_, &QTimer::timeout, this, &CVellumView::blink_tick);

    repaint_timer_ = new QTimer(this);
    repaint_timer_->setSingleShot(true);
    repaint_timer_->setInterval(repaint_coalesce_ms);
    connect(repaint_timer_, &QTimer::timeout, this, &CVellumView::invalidate_marked);

    flash_timer_ = new QTimer(this);
    flash_timer_->setSingleShot(true);
    flash_timer_->setInterval(flash_ms);
    connect(flash_timer_, &QTimer::timeout, this, [this] {
        flash_ = false;
        update_all();
    });
    link_opener = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    bell_sound = [] { QApplication::beep(); };
    bell_alert = [](QWidget* w) { QApplication::alert(w); };
}

CVellumView::~CVellumView() {
    blockSignals(true);  // the frame around may already be half gone
    if (session_->connected()) session_->disconnect(true);
    mouse_.reset();
    // The connection calls into this view's host and timer: it goes first.
    vt_ = nullptr;
    session_ = nullptr;
    link_ = nullptr;
    doc_.close();
}

screen_ring& CVellumView::ring() { return doc_.ring(); }
int CVellumView::columns() const { return doc_.ring().columns(); }
int CVellumView::rows() const { return doc_.ring().rows(); }

QPoint CVellumView::cell_at(QPoint pixel) const {
    int col = pixel.x() / std::max(1, cell_w_) + 1;
    int row = pixel.y() / std::max(1, cell_h_) + 1;
    return {std::clamp(col, 1, columns()), std::clamp(row, 1, rows())};
}

QRect CVellumView::cell_rect(int row, int column) const {
    return {(column - 1) * cell_w_, (row - 1) * cell_h_, cell_w_, cell_h_};
}

QRect CVellumView::row_rect(int row) const { return {0, (row - 1) * cell_h_, columns() * cell_w_, cell_h_}; }

// ---------------------------------------------------------------------------------------------------------------
// Fonts and layout

int CVellumView::scroll_bar_width() const {
    return bar_ && !bar_->isHidden() ? style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 0;
}

QFont CVellumView::make_font(int pixel_height) const {
    const Settings& s = settings();
    QFont f = face_request(QString::fromUtf8(s.font_name));
    f.setWeight(s.font_weight >= 600 ? QFont::Bold : QFont::Normal);
    f.setItalic(s.font_italic != 0);
    f.setKerning(false);
    f.setPixelSize(std::max(1, pixel_height));
    return f;
}

cell_metrics CVellumView::measure_cell(int pixel_height) const {
    QFontMetricsF fm(make_font(pixel_height));
    return {static_cast<int>(std::ceil(fm.horizontalAdvance(QLatin1Char('M')) - 0.01)),
            static_cast<int>(std::ceil(fm.lineSpacing() - 0.01))};
}

void CVellumView::fit_screen_font(int client_w, int client_h, int reserved_h) {
    int sbw = scroll_bar_width();
    fit_result r = fit_grid(client_w, client_h, sbw, reserved_h, columns(), [this](int h) { return measure_cell(h); });
    settings().fontsize = r.font_height;
    apply_font(r.font_height, r.cell_width, r.cell_height, r.char_extra, r.line_gap);
}

void CVellumView::apply_font(int font_height, int cell_w, int cell_h, int char_extra, int line_gap) {
    font_ = make_font(std::max(2, font_height));
    QFontMetricsF fm(font_);
    // Letter spacing makes every glyph advance exactly one cell, so a run is one drawText call.
    font_.setLetterSpacing(QFont::AbsoluteSpacing, cell_w - fm.horizontalAdvance(QLatin1Char('M')));
    ascent_ = static_cast<int>(std::ceil(fm.ascent()));
    descent_ = static_cast<int>(std::ceil(fm.descent()));
    // Each rounded up, the two can be a pixel taller than the cell: the baseline moves up, or the underscore and
    // the descenders would fall under the next row's paper.
    ascent_ = std::max(1, std::min(ascent_, cell_h - line_gap - descent_));
    strike_out_ = static_cast<int>(std::lround(fm.strikeOutPos()));
    italic_font_ = font_;
    italic_font_.setItalic(true);
    // xterm draws bold text in the bold face; its spacing is its own, so its glyphs also advance one cell.
    bold_font_ = make_font(std::max(2, font_height));
    bold_font_.setWeight(QFont::Bold);
    bold_font_.setLetterSpacing(QFont::AbsoluteSpacing,
                                cell_w - QFontMetricsF(bold_font_).horizontalAdvance(QLatin1Char('M')));
    bold_italic_font_ = bold_font_;
    bold_italic_font_.setItalic(true);
    cell_w_ = cell_w;
    cell_h_ = cell_h;
    char_extra_ = char_extra;
    line_gap_ = line_gap;
    have_font_ = true;
    update();
}

// The font at the size the user chose (plus the zoom); rows and columns are what the view holds of it. The host
// hears of a new grid through grid_changed.
void CVellumView::fit_window_grid() {
    const int h = std::clamp(settings().fontsize + zoom_, 4, 200);
    const cell_metrics m = measure_cell(h);
    const int cw = std::max(1, m.width), ch = std::max(1, m.height);
    apply_font(h, cw, ch, 0, 0);
    const int cols = std::clamp((width() - scroll_bar_width()) / cw, min_columns, max_columns);
    const int rows = std::clamp(height() / ch, min_rows, max_rows);
    if (rows == ring().rows() && cols == ring().columns()) return;
    vt_->resize(rows, cols);
    update_all();
    emit grid_changed();
    if (isVisible())
        QToolTip::showText(mapToGlobal(rect().center()), QStringLiteral("%1x%2").arg(cols).arg(rows), this, {}, 1000);
}

void CVellumView::zoom(int step) {
    zoom_ = step == 0 ? 0 : std::clamp(zoom_ + step, 4 - settings().fontsize, 200 - settings().fontsize);
    refit();
}

void CVellumView::refit() {
    if (fitting_) return;  // the emulator's resize reports the new width back
    fitting_ = true;
    if (term().screen_size) {
        fit_window_grid();
    } else {
        if (vt_->sized_by_window()) {  // the setting was turned off: the classic 24x80 screen comes back
            vt_->restore_classic_size();
            emit grid_changed();
        }
        fit_screen_font(width(), height(), 0);
    }
    fitting_ = false;
}

void CVellumView::resizeEvent(QResizeEvent*) {
    if (bar_) {
        int w = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        bar_->setGeometry(width() - w, 0, w, height());
    }
    refit();
}

// ---------------------------------------------------------------------------------------------------------------
// Scroll-back

int CVellumView::scroll_position() const { return doc_.ring().scroll_position(); }

void CVellumView::set_scroll_position(int pos) {
    const bool changed = ring().set_scroll_position(pos);
    sync_scroll_bar();
    if (changed) update_all();
}

void CVellumView::sync_scroll_bar() {
    if (!bar_ || bar_->isHidden()) return;
    const int live = ring().live_position(), pos = scroll_position();
    QSignalBlocker block(bar_);
    if (bar_->maximum() != live || bar_->minimum() != 1) bar_->setRange(1, live);
    if (bar_->pageStep() != rows()) bar_->setPageStep(rows());
    if (bar_->value() != pos) bar_->setValue(pos);
}

void CVellumView::scroll_bar_moved(int value) { set_scroll_position(value); }

void CVellumView::scroll_page(bool back) {
    const int page = rows() - 1;
    set_scroll_position(scroll_position() + (back ? -page : page));
}

// ---------------------------------------------------------------------------------------------------------------
// Find

int CVellumView::find_lines() const { return doc_.ring().history_count() + rows(); }

find_text::ring_source CVellumView::find_source() const {
    return {doc_.ring(), term().utf8, code_page_of_script(term().font_charset)};
}

void CVellumView::show_found(std::vector<found_span> spans) {
    std::sort(spans.begin(), spans.end(), [](const found_span& a, const found_span& b) {
        return std::tie(a.line, a.first) < std::tie(b.line, b.first);
    });
    if (spans.empty() && found_.empty()) return;
    found_ = std::move(spans);
    update_all();
}

void CVellumView::reveal_find_line(int line) {
    // Screen row r shows find line r + position - 2 (0-based).
    const int top = scroll_position() - 1;
    if (line >= top && line < top + rows()) return;
    set_scroll_position(line - rows() / 2 + 2);
}

void CVellumView::show_scroll_bar(bool on) {
    if (!bar_) return;
    QSignalBlocker block(bar_);
    if (on) {
        bar_->setRange(1, ring().live_position());
        bar_->setValue(ring().live_position());
        bar_->show();
    } else {
        bar_->setRange(0, 0);
        bar_->hide();
    }
    if (!ring().at_live()) set_scroll_position(ring().live_position());
    refit();
}

// ---------------------------------------------------------------------------------------------------------------
// Repaint requests

void CVellumView::update_all() {
    sync_scroll_bar();
    mouse_->update_highlight();
    repaint_timer_->stop();
    for (int r = 1; r <= rows(); ++r) ring().clear_row_mark(r);
    pending_all_ = true;
    update();
}

void CVellumView::update_changed() {
    if (!repaint_timer_->isActive()) repaint_timer_->start();
}

void CVellumView::mark_view_row(int row) {
    if (row >= 1 && row <= rows()) extra_rows_[row - 1] = true;
}

void CVellumView::invalidate_marked() {
    sync_scroll_bar();  // host data may have lengthened the history
    mouse_->update_highlight();
    mark_view_row(vt_->cursor_row());
    mark_view_row(last_cursor_row_);
    const screen_ring& rg = ring();
    for (int r = 1; r <= rows(); ++r) {
        if (!rg.row_marked(r) && !extra_rows_[r - 1]) continue;
        extra_rows_[r - 1] = false;
        QRect rect = row_rect(r);
        // Double-height halves are drawn together.
        if (rg.is_double_top(r) && r < rows()) rect = rect.united(row_rect(r + 1));
        if (rg.is_double_bottom(r) && r > 1) rect = rect.united(row_rect(r - 1));
        update(rect);
    }
}

namespace {
cursor_look cursor_of(const Settings& s, const vt& t) {
    return cursor_look_for(s.cursortype, s.blink_cursor != 0, t.xterm() && t.cursor_style_set(), t.cursor_style(),
                           t.cursor_blinking());
}
}  // namespace

void CVellumView::blink_tick() {
    blink_phase_ = !blink_phase_;
    const screen_ring& rg = ring();
    bool any = false;
    for (int r = 1; r <= rows(); ++r) {
        const ring_line& ln = rg.shown_line(r);
        for (int c = 0; c < rg.columns(); ++c) {
            if (ln.cells[c] & cell_blink) {
                mark_view_row(r);
                any = true;
                break;
            }
        }
    }
    if (any || cursor_of(settings(), *vt_).blink) {
        mark_view_row(vt_->cursor_row());
        update_changed();
    }
}

QImage CVellumView::render_image() {
    invalidate_marked();
    return grab().toImage();
}

// ---------------------------------------------------------------------------------------------------------------
// Painting

void CVellumView::paintEvent(QPaintEvent* e) {
    QPainter p(this);
    const Settings& s = settings();
    QColor bg = color_from_bgr(reverse_screen_ ? s.color_fg : s.color_bg);
    QRect area = e->rect();
    if (!have_font_) {
        p.fillRect(area, bg);
        return;
    }
    int cols = columns();
    int text_w = cols * cell_w_, text_h = rows() * cell_h_;
    if (area.right() >= text_w) p.fillRect(QRect(text_w, 0, width() - text_w, height()), bg);
    if (area.bottom() >= text_h) p.fillRect(QRect(0, text_h, text_w, height() - text_h), bg);

    int first = std::clamp(area.top() / cell_h_ + 1, 1, rows());
    int last = std::min(area.bottom() / cell_h_ + 1, rows());
    if (pending_all_) {
        first = 1;
        last = rows();
        pending_all_ = false;
    }
    paint_rows(p, first, last, e->region());
    if (flash_) {
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.fillRect(area, Qt::white);
    }
}

bool CVellumView::row_covered(int row, const QRegion& painted) const {
    return QRegion(row_rect(row) & rect()).subtracted(painted).isEmpty();
}

void CVellumView::paint_rows(QPainter& p, int first, int last, const QRegion& painted) {
    screen_ring& rg = ring();
    const Settings& s = settings();
    cell_palette pal{s.color_fg, s.color_bg, s.color_bold, s.color_cursor, vt_->palette().data()};
    // Colours the host set (xterm's OSC 10, 11, 12) replace the user's.
    if (const uint32_t c = vt_->special(special_fg); c != colour_unset) pal.fg = pal.bold = bgr_of_rgb(c);
    if (const uint32_t c = vt_->special(special_bg); c != colour_unset) pal.bg = bgr_of_rgb(c);
    if (const uint32_t c = vt_->special(special_cursor); c != colour_unset) pal.cursor = bgr_of_rgb(c);
    const int cols = rg.columns();
    const bool live = rg.at_live();
    const int cur_row = vt_->cursor_row();
    const bool cursor_shown = focus_ && live && vt_->cursor_visible() && (!cursor_of(s, *vt_).blink || blink_phase_);

    // A double-height pair is painted whole; widen the range so that both halves are in it.
    if (first > 1 && (rg.shown_line(first).attr & line_double_bottom)) --first;
    if (last < rows() && (rg.shown_line(last).attr & line_double_top)) ++last;

    p.setFont(font_);
    p.setRenderHint(QPainter::Antialiasing, false);

    bool cursor_row_drawn = false;
    for (int r = first; r <= last; ++r) {
        // Marks are consumed only when the whole row was drawn; a row drawn in part (an exposed corner) keeps
        // them so that the next update draws the rest.
        const bool whole = row_covered(r, painted);
        if (whole) {
            rg.clear_row_mark(r);
            for (int c = 1; c <= cols; ++c) rg.cell_mark(r, c) &= mark_selected;
            if (r == cur_row) cursor_row_drawn = true;
        }
        const ring_line& ln = rg.shown_line(r);  // an archived line's copy lasts until the next row
        const bool dw = ln.attr & line_double_width;
        const bool dtop = ln.attr & line_double_top;
        const bool dbottom = ln.attr & line_double_bottom;
        const int cw = dw ? cell_w_ * 2 : cell_w_;
        const int ncols = dw ? cols / 2 : cols;
        const int top = (r - 1) * cell_h_;
        int cursor_col = 0;
        if (cursor_shown && r == cur_row) cursor_col = std::min(vt_->cursor_column(), ncols);

        // Right of the last double-width cell.
        if (dw)
            p.fillRect(QRect(ncols * cw, top, cols * cell_w_ - ncols * cw, cell_h_),
                       color_from_bgr(reverse_screen_ ? pal.fg : pal.bg));

        // Found cells of this row (find line r + position - 2).
        const int find_line = r + rg.scroll_position() - 2;
        const auto found_first = std::lower_bound(found_.begin(), found_.end(), find_line,
                                                  [](const found_span& f, int line) { return f.line < line; });
        auto found_at = [&](int col) -> uint32_t {
            for (auto f = found_first; f != found_.end() && f->line == find_line; ++f)
                if (col >= f->first && col <= f->last) return f->current ? found_bit | current_bit : found_bit;
            return 0;
        };
        int c = 1;
        while (c <= ncols) {
            uint32_t cell = ln.cells[c - 1];
            bool sel = rg.cell_mark(r, c) & mark_selected;
            uint32_t key = (cell & 0xFF00) | (sel ? 0x10000u : 0) | (c == cursor_col ? cell_cursor : 0) | found_at(c);
            int end = c;
            if (!dw && !(cell & cell_graphics)) {
                while (end < ncols) {
                    uint32_t nc = ln.cells[end];
                    bool nsel = rg.cell_mark(r, end + 1) & mark_selected;
                    uint32_t nkey = (nc & 0xFF00) | (nsel ? 0x10000u : 0) | (end + 1 == cursor_col ? cell_cursor : 0) |
                                    found_at(end + 1);
                    if (nkey != key) break;
                    // Plain lines skip this: their colour arrays are all zero.
                    if (ln.coloured &&
                        (ln.fg[end] != ln.fg[c - 1] || ln.bg[end] != ln.bg[c - 1] || ln.extra[end] != ln.extra[c - 1]))
                        break;
                    ++end;
                }
            }
            paint_run(p, r, c, end, cw, ln, key, dtop, dbottom, pal);
            c = end + 1;
        }
    }
    if (cursor_row_drawn) {
        if (last_cursor_row_ != cur_row &&
            (last_cursor_row_ < first || last_cursor_row_ > last || !row_covered(last_cursor_row_, painted)))
            mark_view_row(last_cursor_row_);  // the old cursor still shows there
        last_cursor_row_ = cur_row;
    } else {
        mark_view_row(cur_row);
    }
    bool more = false;
    for (int r = 1; r <= rows(); ++r) more = more || rg.row_marked(r) || extra_rows_[r - 1];
    if (more && !repaint_timer_->isActive()) repaint_timer_->start();
}

void CVellumView::paint_run(QPainter& p, int r, int c0, int c1, int cw, const ring_line& ln, uint32_t key, bool dtop,
                            bool dbottom, const cell_palette& pal) {
    const Settings& s = settings();
    const int top = (r - 1) * cell_h_;
    const int x0 = (c0 - 1) * cw;
    const int x1 = c1 * cw;
    // Found text shows as selected text does; the current match is framed as well.
    const bool selected = key & (0x10000u | found_bit);
    const bool is_cursor = key & cell_cursor;
    const int i0 = c0 - 1;
    const bool own_colours = ln.coloured && (ln.fg[i0] | ln.bg[i0] | ln.extra[i0]) != 0;
    const uint16_t extra = own_colours ? ln.extra[i0] : 0;
    const run_colors col = own_colours ? colors_for(key & 0xFFFF, ln.fg[i0], ln.bg[i0], extra, selected,
                                                    reverse_screen_, blink_phase_, pal, s.bold_bright != 0)
                                       : colors_for(key & 0xFFFF, selected, reverse_screen_, blink_phase_, pal);
    const QColor paper = color_from_bgr(col.paper), ink = color_from_bgr(col.ink);
    const QRect rect(x0, top, x1 - x0, cell_h_);
    const int cursor_type = cursor_of(s, *vt_).type;
    const int light = light_thickness(cell_w_, cell_h_);

    // Double height: the top half shows only its background; the bottom half draws both halves.
    if (dtop) {
        p.fillRect(rect, paper);
        return;
    }
    if (dbottom && r >= 2) {
        QRect both(x0, top - cell_h_, x1 - x0, 2 * cell_h_);
        p.fillRect(both, paper);
        uint8_t ch = ln.cells[c0 - 1] & cell_char_mask;
        const bool graphics = ln.cells[c0 - 1] & cell_graphics && ch >= 0x5F && ch <= 0x7E;
        uint32_t u = cell_char(ln.cells[c0 - 1], term().utf8, code_page_of_script(term().font_charset));
        glyph_shapes g;
        if (graphics ? dec_glyph(ch, both, light, g) : box_glyph(u, both, light, g)) {
            paint_glyph(p, g, ink, font_);
            if (is_cursor) draw_cursor_overlay(p, QRect(x0, top, x1 - x0, cell_h_), cursor_type, ch, ink);
            return;
        }
        if (graphics) u = graphics_text_char(ch);
        p.save();
        p.setClipRect(both, Qt::IntersectClip);
        p.setPen(ink);
        p.translate(x0, top - cell_h_);
        p.scale(2.0, 2.0);
        if (u) p.drawText(QPointF(0, ascent_), code_text(u));
        p.restore();
        if (is_cursor) draw_cursor_overlay(p, QRect(x0, top, x1 - x0, cell_h_), cursor_type, ch, ink);
        return;
    }

    // Background, with the block cursor shapes.
    if (is_cursor && cursor_type == 0) {
        p.fillRect(rect, color_from_bgr(pal.cursor));
    } else {
        p.fillRect(rect, paper);
        if (is_cursor && cursor_type == 1) {
            int y0 = top + cell_h_ / 2 - line_gap_;
            int y1 = top + cell_h_ - line_gap_;
            p.fillRect(QRect(x0, y0, x1 - x0, y1 - y0), color_from_bgr(pal.cursor));
        }
    }

    const uint32_t first_cell = ln.cells[c0 - 1];
    const uint8_t first_ch = first_cell & cell_char_mask;
    if ((first_cell & cell_graphics) && first_ch >= 0x5F && first_ch <= 0x7E) {
        // A run of one cell.
        if (char16_t t = graphics_text_char(first_ch)) {
            draw_text(p, x0, top, QString(QChar(t)), ink, ln.attr & line_double_width);
        } else {
            glyph_shapes g;
            if (dec_glyph(first_ch, rect, light, g)) paint_glyph(p, g, ink, font_);
        }
    } else {
        const bool heavy = (key & cell_bold) && vt_->xterm();
        const QFont& face = heavy ? (extra & extra_italic ? bold_italic_font_ : bold_font_)
                                  : (extra & extra_italic ? italic_font_ : font_);
        if (&face != &font_) p.setFont(face);
        // Bytes show in the script's code page, code points (utf8) as themselves.
        const bool utf8 = term().utf8;
        const int page = code_page_of_script(term().font_charset);
        QString text(c1 - c0 + 1, Qt::Uninitialized);
        bool blank = true, latin1 = true;
        for (int c = c0; c <= c1; ++c) {
            const uint32_t cell = ln.cells[c - 1];
            const uint32_t u = cell_char(cell, utf8, page);
            if (u > 0xFF || (cell & (cell_wide | cell_wide_right))) latin1 = false;
            text[c - c0] = QChar(char16_t(u > 0xFF ? 0 : u));
            if (u != ' ' && u != 0) blank = false;
        }
        if (latin1) {
            if (!blank) draw_text(p, x0, top, text, ink, ln.attr & line_double_width);
        } else {
            // Glyphs from fallback faces have their own advances: each character is placed at its own cell, a
            // wide one across both of its cells.
            p.save();
            p.setClipRect(rect, Qt::IntersectClip);
            const QFontMetricsF metrics(p.font());
            for (int c = c0; c <= c1; ++c) {
                const uint32_t cell = ln.cells[c - 1];
                if (wide_tail(cell, c > 1 ? ln.cells[c - 2] : 0)) continue;
                const uint32_t u = cell_char(cell, utf8, page);
                if (u == ' ' || u == 0) continue;
                if (glyph_shapes box; box_glyph(u, QRect((c - 1) * cw, top, cw, cell_h_), light, box)) {
                    paint_glyph(p, box, ink, font_);
                    continue;
                }
                const QString g = code_text(u);
                if (cell & cell_wide) {
                    // Centred over both cells whatever the fallback face's advance.
                    const qreal adv = metrics.horizontalAdvance(g);
                    const int x = (c - 1) * cw + int((2 * cw - adv) / 2);
                    p.setClipRect(QRect((c - 1) * cw, top, 2 * cw, cell_h_), Qt::ReplaceClip);
                    draw_text(p, x, top, g, ink, ln.attr & line_double_width);
                    p.setClipRect(rect, Qt::ReplaceClip);
                } else {
                    draw_text(p, (c - 1) * cw, top, g, ink, ln.attr & line_double_width);
                }
            }
            p.restore();
        }
        if (&face != &font_) p.setFont(font_);
    }

    if (extra & (extra_strike | extra_overline)) {
        if (extra & extra_overline) p.fillRect(QRect(x0, top, x1 - x0, 1), ink);
        if (extra & extra_strike) {
            const int y = top + ascent_ - strike_out_;
            p.fillRect(QRect(x0, std::clamp(y, top, top + cell_h_ - 1), x1 - x0, 1), ink);
        }
    }
    const int underline_y = top + cell_h_ - descent_ - line_gap_ + 1;
    if (is_cursor && cursor_type == 2) {
        p.fillRect(QRect(x0, std::min(underline_y, top + cell_h_ - 1), x1 - x0, 1), color_from_bgr(pal.cursor));
    } else if (is_cursor && cursor_type == 3) {
        p.fillRect(QRect(x0, top, std::min(2, x1 - x0), cell_h_), color_from_bgr(pal.cursor));
    } else if ((key & cell_underline) || (extra & extra_double_underline)) {
        const int y = std::min(underline_y, top + cell_h_ - 1);
        // The second line only where the cell has room for it below the first.
        const bool twice = (extra & extra_double_underline) && y + 2 <= top + cell_h_ - 1;
        for (int c = c0; c <= c1; ++c) {
            if ((ln.cells[c - 1] & cell_char_mask) == '_') continue;
            p.fillRect(QRect((c - 1) * cw, y, cw, 1), ink);
            if (twice) p.fillRect(QRect((c - 1) * cw, y + 2, cw, 1), ink);
        }
    }
    if (key & current_bit) {
        p.setPen(ink);
        p.drawRect(rect.adjusted(0, 0, -1, -1));
    }
}

void CVellumView::draw_text(QPainter& p, int x, int top, const QString& text, const QColor& ink, bool double_width) {
    p.setPen(ink);
    if (double_width) {
        p.save();
        p.translate(x, top);
        p.scale(2.0, 1.0);
        p.drawText(QPointF(0, ascent_), text);
        p.restore();
    } else {
        p.drawText(QPointF(x, top + ascent_), text);
    }
}

void CVellumView::draw_cursor_overlay(QPainter& p, const QRect& cell, int type, uint8_t, const QColor&) {
    // Cursor on the lower half of a double-height character: drawn as a frame so the glyph stays readable.
    const Settings& s = settings();
    QColor cc = color_from_bgr(s.color_cursor);
    if (type == 2)
        p.fillRect(QRect(cell.left(), cell.bottom(), cell.width(), 1), cc);
    else if (type == 3)
        p.fillRect(QRect(cell.left(), cell.top(), std::min(2, cell.width()), cell.height()), cc);
    else
        p.fillRect(QRect(cell.left(), cell.top() + cell.height() / 2, cell.width(), cell.height() / 2), cc);
}

// ---------------------------------------------------------------------------------------------------------------
// Keyboard

key_modes CVellumView::current_key_modes() const {
    const Settings& s = settings();
    key_modes m;
    m.app_keys = vt_->app_keys();
    m.vt52_mode = vt_->vt52_mode();
    m.vt100_level = vt_->vt100_level();
    m.c1_8bit = vt_->c1_8bit();
    m.auto_repeat = vt_->auto_repeat();
    m.new_line_mode = vt_->new_line_mode();
    m.ignore_app = s.ignore_app != 0;
    m.numlock = s.numlock != 0;
    m.use_cv = s.use_cv != 0;
    m.local_echo = term().local_echo;
    m.xterm = vt_->xterm();
    m.alt_meta = term().alt_meta;
    m.alternate_screen = doc_.ring().alternate();
    return m;
}

namespace {
vkey vkey_of(int k, bool keypad) {
    switch (k) {
    case Qt::Key_Up: return vkey::up;
    case Qt::Key_Down: return vkey::down;
    case Qt::Key_Right: return vkey::right;
    case Qt::Key_Left: return vkey::left;
    case Qt::Key_Home: return vkey::home;
    case Qt::Key_End: return vkey::end;
    case Qt::Key_PageUp: return vkey::page_up;
    case Qt::Key_PageDown: return vkey::page_down;
    case Qt::Key_Insert: return vkey::insert;
    case Qt::Key_Delete: return vkey::del;
    case Qt::Key_Clear: return vkey::clear;
    case Qt::Key_Pause: return vkey::pause;
    case Qt::Key_ScrollLock: return vkey::scroll_lock;
    case Qt::Key_NumLock: return vkey::num_lock;
    case Qt::Key_Asterisk: return keypad ? vkey::kp_multiply : vkey::other;
    case Qt::Key_Plus: return keypad ? vkey::kp_add : vkey::other;
    case Qt::Key_Minus: return keypad ? vkey::kp_subtract : vkey::other;
    case Qt::Key_Slash: return keypad ? vkey::kp_divide : vkey::other;
    default: break;
    }
    if (k >= Qt::Key_F1 && k <= Qt::Key_F12) return vkey::f;
    if (k >= Qt::Key_A && k <= Qt::Key_Z) return vkey::letter;
    return vkey::other;
}

// The character a key press produces, -1 for none.
int character_of(const QKeyEvent* e, bool ctrl) {
    const int k = e->key();
    switch (k) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 9;
    default: break;
    }
    if (ctrl) {
        if (k >= Qt::Key_A && k <= Qt::Key_Z) return k - Qt::Key_A + 1;
        switch (k) {
        case Qt::Key_At:
        case Qt::Key_Space:
        case Qt::Key_2: return 0;
        case Qt::Key_BracketLeft: return 27;
        case Qt::Key_Backslash: return 28;
        case Qt::Key_BracketRight: return 29;
        case Qt::Key_AsciiCircum:
        case Qt::Key_6: return 30;
        case Qt::Key_Underscore:
        case Qt::Key_Minus: return 31;
        default: break;
        }
    }
    const QList<uint> u = e->text().toUcs4();
    if (u.size() != 1) return -1;
    return int(u.at(0));  // a character: encode_char makes the bytes
}
}  // namespace

bool CVellumView::modifier_key(int k) {
    switch (k) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_Mode_switch: return true;
    default: return false;
    }
}

void CVellumView::keyPressEvent(QKeyEvent* e) {
    blink_phase_ = true;
    const Qt::KeyboardModifiers mods = e->modifiers();
    const bool alt = mods & Qt::AltModifier;
    if (alt && !term().alt_meta) {  // menu access; Alt combinations never reach the host
        QWidget::keyPressEvent(e);
        return;
    }
    const int k = e->key();
    // Each modifier arrives as a press of its own: it must not cost the selection that Ctrl+Shift+C is about to
    // copy, nor use up a pending swallow.
    if (modifier_key(k)) {
        e->accept();
        return;
    }
    // Esc gives up an attempt still being set up (a host that accepts and then says nothing); the message pane
    // says so meanwhile.
    if (k == Qt::Key_Escape && session_->setting_up()) {
        disconnect();
        return;
    }
    const bool keypad = mods & Qt::KeypadModifier;
    const bool ctrl = mods & Qt::ControlModifier;
    // Zoom, where the font keeps its size and the grid follows the window.
    if (ctrl && term().screen_size && !keypad) {
        if (k == Qt::Key_Plus || k == Qt::Key_Equal) return zoom(1);
        if (k == Qt::Key_Minus) return zoom(-1);
        if (k == Qt::Key_0) return zoom(0);
    }
    key_down_event kd;
    kd.key = vkey_of(k, keypad);
    kd.fnum = kd.key == vkey::f ? k - Qt::Key_F1 + 1 : 0;
    kd.extended = !keypad;
    kd.shift = mods & Qt::ShiftModifier;
    kd.ctrl = ctrl;
    kd.alt = alt;
    kd.letter = kd.key == vkey::letter ? static_cast<char>('A' + (k - Qt::Key_A)) : 0;
    if (k == Qt::Key_Cancel) {  // copies like Ctrl+C
        kd.key = vkey::letter;
        kd.letter = 'C';
        kd.ctrl = true;
    }
    if (k == Qt::Key_Print) {
        // Print Screen: the NumLock slot on press (when that setting is on), the Print slot on release.
        kd.key = vkey::num_lock;
    }

    const key_modes m = current_key_modes();
    key_result r = keys_->key_down(kd, m, mouse_->has_selection());
    if (r.action == key_action::copy) {
        mouse_->copy();
    } else {
        mouse_->key_pressed(false);
        run_key_result(r);
    }

    // The character step: keys mapped above send nothing more, except through the swallow rule.
    bool char_key = kd.key == vkey::letter || kd.key == vkey::other || keys_->swallow();
    if (char_key) {
        const int ch = character_of(e, ctrl);
        char bytes[4];
        int n = ch >= 0 ? encode_char(uint32_t(ch), term().utf8, code_page_of_script(term().font_charset), bytes) : 0;
        if (n == 0 && keys_->swallow()) {  // consume the swallow flag even without text
            bytes[0] = 0;
            n = 1;
        }
        for (int i = 0; i < n; ++i) {
            char_event ce;
            ce.ch = static_cast<std::uint8_t>(bytes[i]);
            ce.backspace_key = k == Qt::Key_Backspace;
            ce.backtab = k == Qt::Key_Backtab;
            ce.ctrl = ctrl;
            ce.keypad_enter = k == Qt::Key_Enter;
            ce.auto_repeat = e->isAutoRepeat();
            ce.alt = alt && i == 0;  // one ESC before a character's bytes
            run_key_result(keys_->character(ce, i == 0 ? m : current_key_modes(), mouse_->has_selection()));
        }
    }
    e->accept();
}

void CVellumView::inputMethodEvent(QInputMethodEvent* e) {
    // Committed text is typed text: each character's bytes (code page or UTF-8) take the character step of a key
    // press; a character the code page lacks sends nothing.
    const QString text = e->commitString();
    if (!text.isEmpty()) {
        blink_phase_ = true;
        mouse_->key_pressed(false);
    }
    const bool utf8 = term().utf8;
    const int page = code_page_of_script(term().font_charset);
    for (uint u : text.toUcs4()) {
        char bytes[4];
        const int n = encode_char(u, utf8, page, bytes);
        for (int i = 0; i < n; ++i) {
            char_event ce;
            ce.ch = static_cast<std::uint8_t>(bytes[i]);
            run_key_result(keys_->character(ce, current_key_modes(), mouse_->has_selection()));
        }
    }
    e->accept();
}

QVariant CVellumView::inputMethodQuery(Qt::InputMethodQuery q) const {
    switch (q) {
    case Qt::ImEnabled: return true;
    case Qt::ImCursorRectangle: return cell_rect(vt_->cursor_row(), vt_->cursor_column());
    case Qt::ImHints: return int(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);
    default: return QWidget::inputMethodQuery(q);
    }
}

void CVellumView::keyReleaseEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Print && !e->isAutoRepeat())
        run_key_result(keys_->key_up(vkey::print, current_key_modes()));
    e->accept();
}

void CVellumView::run_key_result(const key_result& r) {
    switch (r.action) {
    case key_action::send:
        send_to_host(r.bytes.data, r.bytes.len);
        if (r.echo)
            for (std::size_t i = 0; i < r.bytes.len; ++i) vt_->feed_byte(r.bytes.data[i]);
        break;
    case key_action::copy: mouse_->copy(); break;
    case key_action::paste: mouse_->paste(); break;
    case key_action::page_back: scroll_page(true); break;
    case key_action::page_forward: scroll_page(false); break;
    case key_action::find: emit find_requested(); break;
    case key_action::none: break;
    }
}

void CVellumView::function_key_command(int n, bool shift, bool ctrl) {
    mouse_->remove_selection();
    run_key_result(keys_->function_key(n, shift, ctrl, current_key_modes()));
}

bool CVellumView::event(QEvent* e) {
    // Keys belong to the host: no menu shortcut may take one, except Alt combinations (menu access) while Alt is
    // not Meta.
    if (e->type() == QEvent::ShortcutOverride) {
        auto* ke = static_cast<QKeyEvent*>(e);
        if (!(ke->modifiers() & Qt::AltModifier) || term().alt_meta) {
            e->accept();
            return true;
        }
    }
    // Tab and Backtab are terminal keys, not focus moves.
    if (e->type() == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(e);
        if (ke->key() == Qt::Key_Tab || ke->key() == Qt::Key_Backtab) {
            keyPressEvent(ke);
            return true;
        }
    }
    return QWidget::event(e);
}

// ---------------------------------------------------------------------------------------------------------------
// Mouse and focus: selection lives in view_mouse.

void CVellumView::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && session_->abort_connect_by_click()) return;
    mouse_->mouse_press(e);
}
void CVellumView::mouseMoveEvent(QMouseEvent* e) { mouse_->mouse_move(e); }
void CVellumView::mouseReleaseEvent(QMouseEvent* e) { mouse_->mouse_release(e); }
void CVellumView::mouseDoubleClickEvent(QMouseEvent* e) { mouse_->mouse_double_click(e); }
void CVellumView::wheelEvent(QWheelEvent* e) { mouse_->wheel(e); }
void CVellumView::contextMenuEvent(QContextMenuEvent* e) { mouse_->context_menu(e); }

namespace {
QStringList dropped_files(const QMimeData* m) {
    QStringList out;
    if (!m || !m->hasUrls()) return out;
    for (const QUrl& u : m->urls())
        if (u.isLocalFile()) out << u.toLocalFile();
    return out;
}
}  // namespace

// Only local files are taken: dropped text or web links never turn into keystrokes for the host.
void CVellumView::dragEnterEvent(QDragEnterEvent* e) {
    if (dropped_files(e->mimeData()).isEmpty()) return e->ignore();
    e->acceptProposedAction();
}

void CVellumView::dragMoveEvent(QDragMoveEvent* e) {
    if (dropped_files(e->mimeData()).isEmpty()) return e->ignore();
    e->acceptProposedAction();
}

void CVellumView::dropEvent(QDropEvent* e) {
    const QStringList files = dropped_files(e->mimeData());
    if (files.isEmpty()) return e->ignore();
    e->acceptProposedAction();
    emit files_dropped(files);
}

void CVellumView::focusInEvent(QFocusEvent*) {
    focus_ = true;
    if (vt_->focus_events() && connected()) send_to_host(reinterpret_cast<const std::uint8_t*>("\x1b[I"), 3);
    mouse_->focus_in();
    mark_view_row(vt_->cursor_row());
    update_changed();
}

void CVellumView::focusOutEvent(QFocusEvent*) {
    focus_ = false;
    if (vt_->focus_events() && connected()) send_to_host(reinterpret_cast<const std::uint8_t*>("\x1b[O"), 3);
    mark_view_row(vt_->cursor_row());
    update_changed();
}

std::string_view CVellumView::link_at(int row, int col) {
    if (row < 1 || row > rows() || col < 1 || col > ring().columns()) return {};
    const ring_line& ln = ring().shown_line(row);
    return ln.extra ? vt_->link_uri(ln.extra[col - 1]) : std::string_view{};
}

// A hyperlink comes from the host, so it opens only on the user's click, after the user has seen where it leads,
// and only for what a browser or mailer handles: a file: link names the host's files, not ours, and opening a local
// file through the desktop may run it.
bool CVellumView::open_link(int row, int col) {
    const std::string_view uri = link_at(row, col);
    if (uri.empty()) return false;
    const QUrl url = QUrl::fromEncoded(QByteArray(uri.data(), static_cast<qsizetype>(uri.size())), QUrl::StrictMode);
    const QString scheme = url.scheme();
    const bool web =
        scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("ftp");
    const bool mail = scheme == QLatin1String("mailto");
    // The URI shown is the one handed to the desktop, in its encoded form (an international domain as punycode).
    const std::string shown = url.toEncoded().toStdString();
    if (!url.isValid() || (web && url.host().isEmpty()) || (mail && url.path().isEmpty()) || !(web || mail)) {
        ui_.message_box("This link was not opened: only http, https, ftp and mailto links are.\n\n" + std::string(uri));
        return true;
    }
    if (ui_.ask_yes_no("Open this link?\n\n" + shown)) link_opener(url);
    return true;
}

void CVellumView::ring_bell() {
    if (term().visual_bell) {
        flash_ = true;
        flash_timer_->start();
        update_all();
    } else if (bell_sound) {
        bell_sound();
    }
    if (!window()->isActiveWindow() && bell_alert) bell_alert(window());
}

// ---------------------------------------------------------------------------------------------------------------
// Session

void CVellumView::send_to_host(const std::uint8_t* data, std::size_t n) {
    if (n) session_->send_to_host(data, n);
}

void CVellumView::display_from_host(const std::uint8_t* data, std::size_t n) { session_->display_from_host(data, n); }

void CVellumView::connection_starting() {
    autoconnect_pending_ = false;
    attempted_ = true;
    // The screen stays as the last session left it, but the new output must not continue after its prompt.
    if (vt_->cursor_column() > 1) {
        vt_->feed_text("\r\n");
        update_all();
    }
    Settings& s = settings();
    if (!maps_loaded_) {
        // The map files are read once, at the first connection of the run.
        read_key_map(s.keyname, key_table());
        read_translation_map(s.nettopc, nettopc_table());
        read_translation_map(s.pctonet, pctonet_table());
        maps_loaded_ = true;
    }
    if (!blink_timer_->isActive()) blink_timer_->start();
}

bool CVellumView::connect_to(const std::string& host, int port) {
    autoconnect_pending_ = false;
    attempt_host_ = host;
    connection_profile p = connection_profile::from(settings(), host, port);
    if (!launch_jump_.empty() && host == launch_jump_host_) p.ssh.proxy_jump = launch_jump_;
    if (!take_ssh_config(p)) return false;
    bool ok = link_->connect(p);
    update_all();
    return ok;
}

bool CVellumView::reconnect() {
    if (!link_->has_target()) return false;
    autoconnect_pending_ = false;
    const connection_profile& target = *link_->last_target();
    attempt_host_ = target.host;
    connection_profile now = connection_profile::from(settings(), target.host, target.port);
    now.protocol = target.protocol;
    if (!take_ssh_config(now)) return false;
    const bool ok = link_->reconnect(now);
    update_all();
    return ok;
}

bool CVellumView::take_ssh_config(connection_profile& p) {
    const connection_runtime::ssh_config_outcome c = connection_runtime::take_ssh_config(p);
    if (!c.notes.empty()) {
        std::string text = "The SSH client configuration was read in part; the connection goes on without the rest.";
        for (const std::string& n : c.notes) text += "\n" + n;
        ui_.message_box(text);
    }
    if (c.refusal.empty()) return true;
    ui_.message_box(c.refusal);
    return false;
}

void CVellumView::disconnect() {
    link_->disconnect(true);
    update_all();
}

void CVellumView::settings_changed() {
    runtime_->apply(connection_profile::from(settings(), {}, 0));
    update_all();
}

bool CVellumView::connected() const { return session_->connected(); }

const terminal_profile& CVellumView::term() const { return link_->profile().terminal; }

void CVellumView::reset_terminal() {
    vt_->reset_parser();
    vt_->reset_terminal(false);
    update_all();
}

void CVellumView::clear_scrollback() {
    // A selection may lie in the lines that go.
    mouse_->remove_selection();
    ring().clear_history();
    ring().scroll_to_live();
    sync_scroll_bar();
    update_all();
}

bool CVellumView::run_autoconnect() {
    if (!autoconnect_pending_ || settings().autoconnect != 1) return false;
    autoconnect_pending_ = false;
    const Settings& s = settings();
    return connect_to(s.host_name, s.port);
}

QString CVellumView::security_text() const {
    const ssh_state st = ssh_status ? ssh_status() : ssh_state();
    return security_pane(session_->connected(), st.id_sent, st.ssh1_state, st.ssh2_keys_active, st.ssh2_cipher,
                         st.post_quantum);
}

QString CVellumView::security_tip() const {
    const ssh_state st = ssh_status ? ssh_status() : ssh_state();
    return ::security_tip(session_->connected(), st.ssh2_keys_active, st.kex, st.post_quantum);
}

QString CVellumView::connection_text() const {
    return connection_pane(session_->busy(), attempted_, session_->setting_up(), attempt_host_);
}

QString CVellumView::position_text() const { return position_pane(vt_->cursor_row(), vt_->cursor_column()); }
