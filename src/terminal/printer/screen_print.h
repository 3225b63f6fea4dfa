#pragma once
// The page of "&Print Screen...": every cell of the 24 rows drawn in a fixed grid of the printer font's average
// character width and line height, line-drawing characters as solid lines, attributes left out.
#include "terminal/printer/printer_controller.h"
#include "terminal/printer/printer_device.h"

namespace printing {

inline constexpr int kLineDrawWidth = 4;

struct page_margins {
    int x = 10;  // x_margin
    int y = 10;  // y_margin
};

// Draws the screen on the current page of `device`. Row r's cells start at r line heights below the top margin, so
// the first line height under the margin stays empty.
// Bytes show in the code page of the script `charset`; with utf8 the cells hold code points.
void draw_screen_page(const printer_screen& screen, page_device& device, page_margins margins, int charset = 0,
                      bool utf8 = false);

}  // namespace printing
