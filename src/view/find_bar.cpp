#include "view/find_bar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <algorithm>

#include "view/view.h"

find_bar::find_bar(CVellumView& view, QWidget* parent) : QWidget(parent), view_(view) {
    setObjectName(QStringLiteral("find_bar"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    edit_ = new QLineEdit(this);
    edit_->setPlaceholderText(QStringLiteral("Find"));
    edit_->setClearButtonEnabled(true);
    edit_->installEventFilter(this);
    regex_ = new QCheckBox(QStringLiteral("Regular e&xpression"), this);
    case_ = new QCheckBox(QStringLiteral("Match c&ase"), this);
    prev_ = new QPushButton(QStringLiteral("&Previous"), this);
    next_ = new QPushButton(QStringLiteral("&Next"), this);
    for (QWidget* w : std::initializer_list<QWidget*>{regex_, case_, prev_, next_}) w->setFocusPolicy(Qt::TabFocus);
    count_ = new QLabel(this);
    count_->setMinimumWidth(count_->fontMetrics().horizontalAdvance(QStringLiteral("No matches 000 of 000")));
    auto* close = new QToolButton(this);
    close->setText(QStringLiteral("x"));
    close->setToolTip(QStringLiteral("Close (Esc)"));
    close->setAutoRaise(true);
    close->setFocusPolicy(Qt::NoFocus);
    row->addWidget(edit_, 1);
    row->addWidget(regex_);
    row->addWidget(case_);
    row->addWidget(prev_);
    row->addWidget(next_);
    row->addWidget(count_);
    row->addWidget(close);

    connect(edit_, &QLineEdit::textChanged, this, [this] { search_again(); });
    connect(regex_, &QCheckBox::toggled, this, [this] { search_again(); });
    connect(case_, &QCheckBox::toggled, this, [this] { search_again(); });
    connect(prev_, &QPushButton::clicked, this, &find_bar::find_previous);
    connect(next_, &QPushButton::clicked, this, &find_bar::find_next);
    connect(close, &QToolButton::clicked, this, &find_bar::close_bar);
}

void find_bar::open() {
    show();
    edit_->setFocus();
    edit_->selectAll();
    search_again();
}

void find_bar::close_bar() {
    hide();
    matches_.clear();
    current_ = -1;
    view_.show_found({});
    view_.setFocus();
}

void find_bar::find_next() {
    const find_text::match m = current();
    search_from(m.line, m.line < 0 ? 0 : m.first, false);
}

void find_bar::find_previous() {
    const find_text::match m = current();
    search_from(m.line < 0 ? view_.find_lines() : m.line, m.first, true);
}

QString find_bar::count_text() const { return count_->text(); }

find_text::match find_bar::current() const {
    if (current_ < 0 || current_ >= static_cast<int>(matches_.size())) return {-1, 0, 0};
    return matches_[static_cast<std::size_t>(current_)];
}

void find_bar::search_again() { search_from(view_.find_lines(), 0, true); }

void find_bar::search_from(int line, int first, bool backward) {
    // The lines are read afresh each time, since host data moves them: one scan over the compact history.
    const find_text::ring_source lines = view_.find_source();
    const QList<uint> pattern = edit_->text().toUcs4();
    find_text::options o;
    o.regex = regex_->isChecked();
    o.match_case = case_->isChecked();
    const find_text::result r = find_text::find_all(
        lines, std::u32string_view(reinterpret_cast<const char32_t*>(pattern.constData()), std::size_t(pattern.size())),
        o);
    matches_ = r.matches;
    current_ = find_text::step_from(matches_, line, first, backward);
    if (current_ < 0) {
        count_->setText(r.bad_pattern       ? QStringLiteral("Bad expression")
                        : pattern.isEmpty() ? QString()
                                            : QStringLiteral("No matches"));
        view_.show_found({});
        return;
    }
    std::vector<CVellumView::found_span> spans;
    spans.reserve(matches_.size());
    find_text::line_text text;  // of the line of the match at hand; matches come line by line
    int text_line = -1;
    for (std::size_t i = 0; i < matches_.size(); ++i) {
        const find_text::match& m = matches_[i];
        if (m.line != text_line) {
            text = lines.text(m.line);
            text_line = m.line;
        }
        const std::vector<int>& cols = text.columns;
        // The last column reaches to the next character's, so a wide character's right half is included.
        const std::size_t end = static_cast<std::size_t>(m.end);
        const int last = std::max(cols[end - 1], cols[end] - 1);
        spans.push_back({m.line, cols[static_cast<std::size_t>(m.first)], last, int(i) == current_});
    }
    view_.reveal_find_line(matches_[static_cast<std::size_t>(current_)].line);
    view_.show_found(std::move(spans));
    count_->setText(QStringLiteral("%1 of %2").arg(current_ + 1).arg(matches_.size()));
}

bool find_bar::eventFilter(QObject* watched, QEvent* e) {
    if (watched == edit_ && e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        switch (k->key()) {
        case Qt::Key_Escape: close_bar(); return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (k->modifiers() & Qt::ShiftModifier)
                find_next();
            else
                find_previous();
            return true;
        default: break;
        }
    }
    return QWidget::eventFilter(watched, e);
}
