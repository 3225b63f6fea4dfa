#include "app/customize_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/commands.h"

customize_dialog::customize_dialog(toolbar_table& rows, QWidget* parent)
    : QDialog(parent), rows_(rows), current_(rows.used_rows_in_order()) {
    setWindowTitle(QStringLiteral("Customize Toolbar"));
    available_list_ = new QListWidget(this);
    current_list_ = new QListWidget(this);
    auto* add = new QPushButton(QStringLiteral("&Add ->"), this);
    auto* remove = new QPushButton(QStringLiteral("<- &Remove"), this);
    auto* up = new QPushButton(QStringLiteral("Move &Up"), this);
    auto* down = new QPushButton(QStringLiteral("Move &Down"), this);
    auto* reset_b = new QPushButton(QStringLiteral("R&eset"), this);
    auto* close_b = new QPushButton(QStringLiteral("&Close"), this);

    auto* grid = new QGridLayout(this);
    auto* avail_label = new QLabel(QStringLiteral("A&vailable toolbar buttons:"), this);
    auto* cur_label = new QLabel(QStringLiteral("&Toolbar buttons:"), this);
    avail_label->setBuddy(available_list_);
    cur_label->setBuddy(current_list_);
    grid->addWidget(avail_label, 0, 0);
    grid->addWidget(cur_label, 0, 2);
    grid->addWidget(available_list_, 1, 0);
    auto* middle = new QVBoxLayout;
    middle->addStretch();
    middle->addWidget(add);
    middle->addWidget(remove);
    middle->addStretch();
    grid->addLayout(middle, 1, 1);
    grid->addWidget(current_list_, 1, 2);
    auto* right = new QVBoxLayout;
    right->addWidget(close_b);
    right->addWidget(reset_b);
    right->addStretch();
    right->addWidget(up);
    right->addWidget(down);
    grid->addLayout(right, 1, 3);

    connect(add, &QPushButton::clicked, this, [this] {
        int r = selected_row(available_list_);
        int at = current_list_->currentRow();
        if (r >= 0) add_row(r, at < 0 ? -1 : at + 1);
    });
    connect(available_list_, &QListWidget::itemDoubleClicked, this, [this] {
        int r = selected_row(available_list_);
        if (r >= 0) add_row(r);
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        int r = selected_row(current_list_);
        if (r >= 0) remove_row(r);
    });
    connect(current_list_, &QListWidget::itemDoubleClicked, this, [this] {
        int r = selected_row(current_list_);
        if (r >= 0) remove_row(r);
    });
    connect(up, &QPushButton::clicked, this, [this] {
        int r = selected_row(current_list_);
        if (r >= 0) move(r, -1);
    });
    connect(down, &QPushButton::clicked, this, [this] {
        int r = selected_row(current_list_);
        if (r >= 0) move(r, +1);
    });
    connect(reset_b, &QPushButton::clicked, this, &customize_dialog::reset);
    connect(close_b, &QPushButton::clicked, this, &QDialog::accept);
    refill();
}

std::vector<int> customize_dialog::available_rows() const {
    std::vector<int> out;
    for (int i = 0; i < toolbar_rows_count; ++i)
        if (std::find(current_.begin(), current_.end(), i) == current_.end()) out.push_back(i);
    return out;
}

int customize_dialog::selected_row(QListWidget* l) const {
    QListWidgetItem* it = l->currentItem();
    return it ? it->data(Qt::UserRole).toInt() : -1;
}

void customize_dialog::add_row(int row, int at) {
    if (row < 0 || row >= toolbar_rows_count) return;
    if (std::find(current_.begin(), current_.end(), row) != current_.end()) return;
    if (at < 0 || at > static_cast<int>(current_.size())) at = static_cast<int>(current_.size());
    current_.insert(current_.begin() + at, row);
    commit();
}

void customize_dialog::remove_row(int row) {
    auto it = std::find(current_.begin(), current_.end(), row);
    if (it == current_.end()) return;
    current_.erase(it);
    commit();
}

void customize_dialog::move(int row, int delta) {
    auto it = std::find(current_.begin(), current_.end(), row);
    if (it == current_.end()) return;
    int i = static_cast<int>(it - current_.begin());
    int j = i + delta;
    if (j < 0 || j >= static_cast<int>(current_.size())) return;
    std::swap(current_[i], current_[j]);
    commit();
    current_list_->setCurrentRow(j);
}

void customize_dialog::reset() {
    rows_.reset_to_defaults();
    current_ = rows_.used_rows_in_order();
    refill();
    emit changed();
}

void customize_dialog::commit() {
    std::vector<int> commands;
    for (int r : current_) commands.push_back(rows_[r].command);
    rows_.collect(commands);
    refill();
    emit changed();
}

void customize_dialog::refill() {
    auto fill = [this](QListWidget* l, const std::vector<int>& rows) {
        l->clear();
        for (int r : rows) {
            auto* it = new QListWidgetItem(QString::fromLatin1(rows_[r].text), l);
            it->setData(Qt::UserRole, r);
        }
    };
    fill(available_list_, available_rows());
    fill(current_list_, current_);
}
