#pragma once
// What the core asks of the user interface: modal message boxes. The Qt adapter shows real dialogs; tests record.
#include <string_view>

struct ui_services {
    virtual ~ui_services() = default;
    // A modal message with an OK button.
    virtual void message_box(std::string_view text) = 0;
    // A modal Yes/No question; true for Yes.
    virtual bool ask_yes_no(std::string_view text) = 0;
};
