#include "adapters/print_settings.h"

#include "config/settings.h"

printing::print_font settings_print_font() {
    const Settings& s = settings();
    printing::print_font f;
    f.size = s.pfontsize;
    f.weight = s.pfont_weight;
    f.italic = s.pfont_italic != 0;
    f.face = s.pfont_name;
    f.charset = s.font_pcharset & 0xFF;
    f.utf8 = s.utf8 != 0;
    return f;
}

bool settings_printer_options::rawprint() const { return settings().rawprint != 0; }

printing::print_font settings_printer_options::font() const { return settings_print_font(); }
