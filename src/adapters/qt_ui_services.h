#pragma once
// Message boxes of the core on Qt: modal QMessageBox dialogs over the program's main window.
#include <QPointer>
#include <QWidget>

#include "config/ui_services.h"

class qt_ui_services final : public ui_services {
public:
    explicit qt_ui_services(QWidget* parent = nullptr) : parent_(parent) {}
    void set_parent(QWidget* w) { parent_ = w; }

    void message_box(std::string_view text) override;
    bool ask_yes_no(std::string_view text) override;

private:
    QPointer<QWidget> parent_;
};
