#pragma once
// What printing needs from the platform: a spooler that takes raw bytes for the default printer, and a page
// device that draws text lines with a printer font. The Qt/CUPS adapters implement these; tests record.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace printing {

// The printer font as the settings describe it.
struct print_font {
    int size = -17;  // font-dialog height value (pfontsize)
    int weight = 0;  // 0, 400 or 700
    bool italic = false;
    std::string face = "Courier New";
    int charset = 0;    // script: the code page of the printed bytes
    bool utf8 = false;  // the bytes are UTF-8 instead
    bool operator==(const print_font&) const = default;
};

// Logical font height for a printer of the given vertical resolution: the settings' size taken as points, made
// positive, then halved (fraction dropped). Positive means cell height in device units.
int printer_font_height(int pfontsize, int logpixels_y);

// Rounded a*b/c as the platform's MulDiv does (half away from zero); 0 when c is 0.
int mul_div(int a, int b, int c);

// A raw job on the default printer. Calls come in the order default_printer, open, start_document, start_page,
// write..., end_document, close; on a failure the caller unwinds as documented on each call.
struct raw_spooler {
    virtual ~raw_spooler() = default;
    // Name of the default printer; false when there is none.
    virtual bool default_printer(std::string& name) = 0;
    virtual bool open(const std::string& name) = 0;
    // A RAW document named doc_name; on false the caller closes the printer.
    virtual bool start_document(std::string_view doc_name) = 0;
    // On false the caller ends the document and closes the printer.
    virtual bool start_page() = 0;
    virtual void write(const std::uint8_t* bytes, std::size_t n) = 0;
    virtual void end_document() = 0;
    virtual void close() = 0;
};

// One printer "device context" with the printer font selected. Coordinates are device units; y is the top of the
// text cell. Pages are counted by the caller: begin_document opens the first page, new_page ends the current one
// and opens the next.
struct page_device {
    virtual ~page_device() = default;
    virtual int line_height() const = 0;  // font height + external leading, at least 1
    virtual int char_width() const = 0;   // average character width, at least 1
    virtual int page_height() const = 0;  // printable height in device units
    virtual bool begin_document() = 0;
    virtual void new_page() = 0;
    virtual void end_document() = 0;
    // text is UTF-8 (the callers map bytes through the font's script or the utf8 setting).
    virtual void text_out(int x, int y, std::string_view text) = 0;
    // Solid black line of the given width (used for line-drawing characters).
    virtual void line(int x1, int y1, int x2, int y2, int width) = 0;
};

// Makes a device for the default printer with the given font; nullptr when there is no default printer or the
// device cannot be made.
struct page_printer {
    virtual ~page_printer() = default;
    virtual std::unique_ptr<page_device> create_default(const print_font& font) = 0;
};

}  // namespace printing
