#pragma once
// The toolbar's Customize dialog: available and current buttons, add, remove, move up/down and reset.
// Every change is written into the table at once and announced with changed(), so the toolbar follows live.
#include <QDialog>

#include "app/toolbar_table.h"

class QListWidget;
class QPushButton;

class customize_dialog : public QDialog {
    Q_OBJECT
public:
    customize_dialog(toolbar_table& rows, QWidget* parent = nullptr);

    // The actions behind the buttons (also used by tests). Rows are table rows.
    void add_row(int row, int at = -1);  // at: index in the current list, -1 = end
    void remove_row(int row);
    void move(int row, int delta);
    void reset();

    std::vector<int> current_rows() const { return current_; }
    std::vector<int> available_rows() const;
    QListWidget* available_list() const { return available_list_; }
    QListWidget* current_list() const { return current_list_; }

signals:
    void changed();

private:
    void commit();
    void refill();
    int selected_row(QListWidget* l) const;

    toolbar_table& rows_;
    std::vector<int> current_;
    QListWidget* available_list_;
    QListWidget* current_list_;
};
