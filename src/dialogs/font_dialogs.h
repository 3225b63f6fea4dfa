#pragma once
// Font and colour choosers. The font chooser offers existing fixed-pitch faces with a style and a script
// (character set) list; the printer variant adds a size list and the "show printer selection box" switch.
#include <QColorDialog>

#include "dialogs/dialog_base.h"
#include "dialogs/settings_dialogs.h"

struct Settings;
class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;

// Windows character-set numbers kept in the settings, with their names.
struct charset_entry {
    int code;
    const char* name;
};
const std::vector<charset_entry>& charset_table();
QString charset_name(int code);

// Printer heights are stored as negative character heights in logical units (96 per inch); the chooser shows
// points.
int points_from_height(int height);
int height_from_points(int points);

class font_chooser : public settings_dialog {
    Q_OBJECT
public:
    enum kind { screen, printer };
    font_chooser(Settings& s, kind k, QWidget* parent = nullptr);

    QListWidget* faces() const { return faces_; }
    QListWidget* styles() const { return styles_; }
    QComboBox* scripts() const { return scripts_; }
    QComboBox* sizes() const { return sizes_; }  // nullptr for the screen font
    // The screen font's height in pixels (`fontsize`), which the window-sized screen and the zoom start from;
    // nullptr for the printer font.
    number_field* pixels() const { return pixels_; }

    // Selection as the chooser would store it.
    QString chosen_face() const;
    bool chosen_bold() const;
    bool chosen_italic() const;
    int chosen_charset() const;

protected:
    void store() override;
    bool validate() override;

private:
    void fill_scripts(int keep);
    void update_sample();

    Settings& s_;
    kind kind_;
    QListWidget* faces_ = nullptr;
    QListWidget* styles_ = nullptr;
    QComboBox* scripts_ = nullptr;
    QComboBox* sizes_ = nullptr;
    number_field* pixels_ = nullptr;
    QLabel* sample_ = nullptr;
    QString stored_face_;  // as stored, without a foundry
    QString initial_size_text_;
    int initial_charset_ = 0;
};

// 0x00BBGGRR <-> colour.
QColor color_from_ref(int ref);
int ref_from_color(const QColor& c);

// Solid colours only, no Help button; the value is stored on OK. Given `bold_bright`, it also offers that
// setting (bold text in palette colours 0-7 shown bright), stored on OK too.
class colour_chooser : public QColorDialog {
    Q_OBJECT
public:
    colour_chooser(int& target, QWidget* parent = nullptr, int* bold_bright = nullptr);

    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    int& target_;
    int* bold_bright_;
    QCheckBox* bright_box_ = nullptr;
};
