#pragma once
// The toolbar table: which commands sit on the toolbar, in which order, with which caption.
// Pure logic (no Qt) so that validation and the layout round trip are testable on their own.
#include <array>
#include <string>
#include <vector>

struct ToolbarButtonEntry {
    int command;
    bool used;
    int position;  // 0..toolbar_rows_count-1
    char text[40];
    bool default_used;
    int default_position;
    char default_text[40];
};

constexpr int toolbar_rows_count = 31;
// Rows 0..14 keep their built-in caption; a stored caption replaces it only from row 15 (F9) on.
constexpr int toolbar_first_custom_text_row = 15;

class toolbar_table {
public:
    toolbar_table();  // every row at its defaults

    ToolbarButtonEntry& operator[](int row) { return rows_[row]; }
    const ToolbarButtonEntry& operator[](int row) const { return rows_[row]; }
    int row_of_command(int command) const;    // -1 when no row carries it
    int row_at_position(int position) const;  // -1 when no row holds it
    int used_count() const;

    void reset_to_defaults();
    // Sets a stored caption; ignored for the first rows, cut to 39 characters.
    void set_text(int row, const std::string& text);

    // Repairs the table after loading. Returns false (and resets every row to its defaults) when the positions
    // are not a permutation of 0..toolbar_rows_count-1; otherwise pushes unused rows behind the used ones and returns true.
    bool validate();

    // Rows of the buttons on the toolbar, left to right.
    std::vector<int> used_rows_in_order() const;
    // Rebuilds used flags and positions from the commands currently on the toolbar (left to right);
    // commands without a row are skipped, rows not on the toolbar follow in table order.
    void collect(const std::vector<int>& toolbar_commands);

private:
    std::array<ToolbarButtonEntry, toolbar_rows_count> rows_;
};

// The message shown when a stored layout is broken.
inline constexpr const char* toolbar_registry_error = "Registry error for the toolbar. Default toolbar will be used";
