#pragma once
// The printing settings read straight from the process-wide settings record.
#include "terminal/printer/printer_controller.h"

class settings_printer_options : public printing::printer_settings {
public:
    bool rawprint() const override;
    printing::print_font font() const override;
};

// The printer font of the settings record.
printing::print_font settings_print_font();
