#pragma once
// The find bar under the terminal: a pattern, "Regular expression" and "Match case", Previous and Next, and the
// count. It searches the view's history and screen (find_text), scrolls the view to the current match and has the
// view show every match. Typing searches from the bottom (the newest line) up; Enter goes to the previous (older)
// match, Shift+Enter to the next; Esc closes the bar and gives the keyboard back to the terminal.
#include <QWidget>
#include <vector>

#include "view/find_text.h"

class CVellumView;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class find_bar : public QWidget {
    Q_OBJECT
public:
    explicit find_bar(CVellumView& view, QWidget* parent = nullptr);

    void open();  // shows the bar with the pattern selected and searches again
    void close_bar();
    void find_next();
    void find_previous();

    QLineEdit* pattern_edit() const { return edit_; }
    QCheckBox* regex_box() const { return regex_; }
    QCheckBox* case_box() const { return case_; }
    QPushButton* next_button() const { return next_; }
    QPushButton* previous_button() const { return prev_; }
    QString count_text() const;
    // The current match (find line, first character), or line -1 with none.
    find_text::match current() const;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void search_from(int line, int first, bool backward);
    void search_again();  // a new pattern or option: from the bottom up

    CVellumView& view_;
    QLineEdit* edit_ = nullptr;
    QCheckBox* regex_ = nullptr;
    QCheckBox* case_ = nullptr;
    QPushButton* prev_ = nullptr;
    QPushButton* next_ = nullptr;
    QLabel* count_ = nullptr;
    std::vector<find_text::match> matches_;
    int current_ = -1;
};
