#include "dialogs/font_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QBoxLayout>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <algorithm>
#include <cmath>

#include "config/settings.h"
#include "dialogs/connect_logic.h"
#include "terminal/charset.h"
#include "view/font_face.h"

const std::vector<charset_entry>& charset_table() {
    static const std::vector<charset_entry> t{
        {0, "Western"},
        {238, "Central European"},
        {204, "Cyrillic"},
        {161, "Greek"},
        {162, "Turkish"},
        {186, "Baltic"},
        {177, "Hebrew"},
        {178, "Arabic"},
        {163, "Vietnamese"},
        {222, "Thai"},
        {128, "Japanese"},
        {129, "Hangul"},
        {134, "Chinese Simplified"},
        {136, "Chinese Traditional"},
        {2, "Symbol"},
        {255, "OEM/DOS"},
    };
    return t;
}

QString charset_name(int code) {
    for (const auto& e : charset_table())
        if (e.code == code) return QString::fromLatin1(e.name);
    return QStringLiteral("Script %1").arg(code);
}

int points_from_height(int height) {
    const double h = std::abs(height);
    return static_cast<int>(std::lround(h * 72.0 / 96.0));
}

int height_from_points(int points) { return -static_cast<int>(std::lround(points * 96.0 / 72.0)); }

namespace {

// Which scripts a face can show, as character-set numbers.
std::vector<int> charsets_of(const QString& family) {
    std::vector<int> out;
    const auto systems = QFontDatabase::writingSystems(family);
    auto has = [&](QFontDatabase::WritingSystem w) { return systems.contains(w); };
    if (has(QFontDatabase::Latin)) out.insert(out.end(), {0, 238, 162, 186});
    if (has(QFontDatabase::Cyrillic)) out.push_back(204);
    if (has(QFontDatabase::Greek)) out.push_back(161);
    if (has(QFontDatabase::Hebrew)) out.push_back(177);
    if (has(QFontDatabase::Arabic)) out.push_back(178);
    if (has(QFontDatabase::Vietnamese)) out.push_back(163);
    if (has(QFontDatabase::Thai)) out.push_back(222);
    if (has(QFontDatabase::Japanese)) out.push_back(128);
    if (has(QFontDatabase::Korean)) out.push_back(129);
    if (has(QFontDatabase::SimplifiedChinese)) out.push_back(134);
    if (has(QFontDatabase::TraditionalChinese)) out.push_back(136);
    if (has(QFontDatabase::Symbol)) out.push_back(2);
    if (out.empty()) out.push_back(0);
    return out;
}

}  // namespace

font_chooser::font_chooser(Settings& s, kind k, QWidget* parent)
    : settings_dialog(k == screen ? QStringLiteral("Font ") : QStringLiteral("Print Font"), QStringLiteral("fonts"),
                      parent),
      s_(s),
      kind_(k) {
    const bool prn = k == printer;
    const QString face = QString::fromUtf8(prn ? s.pfont_name : s.font_name);
    const bool bold = (prn ? s.pfont_weight : s.font_weight) >= 700;
    const bool italic = (prn ? s.pfont_italic : s.font_italic) != 0;
    initial_charset_ = prn ? (s.font_pcharset & 0xFF) : s.font_charset;

    auto* grid = new QGridLayout;
    outer_->insertLayout(0, grid);
    auto* face_label = new QLabel(QStringLiteral("&Font:"), this);
    auto* style_label = new QLabel(QStringLiteral("Font st&yle:"), this);
    grid->addWidget(face_label, 0, 0);
    grid->addWidget(style_label, 0, 1);

    faces_ = new QListWidget(this);
    faces_->setObjectName(QStringLiteral("face"));
    // One row per family: the foundry variants of a family are one face for the stored name.
    QStringList families;
    for (const auto& f : QFontDatabase::families())
        if (QFontDatabase::isFixedPitch(f) && !QFontDatabase::isPrivateFamily(f)) families << face_family(f);
    families.removeDuplicates();
    faces_->addItems(families);
    // Start on the face the terminal draws for the stored name, which is a substitute when it is not installed.
    stored_face_ = face_family(face);
    const QString drawn = resolved_face(face);
    auto found = faces_->findItems(drawn, Qt::MatchFixedString);
    if (found.isEmpty()) {
        faces_->addItem(drawn);
        found = faces_->findItems(drawn, Qt::MatchFixedString);
    }
    faces_->setCurrentItem(found.first());
    face_label->setBuddy(faces_);
    grid->addWidget(faces_, 1, 0);

    styles_ = new QListWidget(this);
    styles_->setObjectName(QStringLiteral("style"));
    styles_->addItems(
        {QStringLiteral("Regular"), QStringLiteral("Italic"), QStringLiteral("Bold"), QStringLiteral("Bold Italic")});
    styles_->setCurrentRow((bold ? 2 : 0) + (italic ? 1 : 0));
    style_label->setBuddy(styles_);
    grid->addWidget(styles_, 1, 1);

    int row = 2;
    if (prn) {
        auto* size_label = new QLabel(QStringLiteral("&Size:"), this);
        grid->addWidget(size_label, 0, 2);
        sizes_ = new QComboBox(this);
        size_label->setBuddy(sizes_);
        sizes_->setObjectName(QStringLiteral("size"));
        sizes_->setEditable(true);
        for (int pt : {6, 7, 8, 9, 10, 11, 12, 13, 14, 16, 18, 20, 22, 24, 26, 28, 36, 48, 72})
            sizes_->addItem(QString::number(pt));
        initial_size_text_ = QString::number(points_from_height(s.pfontsize));
        sizes_->setEditText(initial_size_text_);
        grid->addWidget(sizes_, 1, 2, Qt::AlignTop);
        auto* ask = new QCheckBox(QStringLiteral("&Show printer selection box for every print job"), this);
        set_control_id(ask, 1041);
        ask->setChecked(s.askprint != 0);
        grid->addWidget(ask, row++, 0, 1, 3);
    } else {
        auto* size_label = new QLabel(QStringLiteral("&Size:"), this);
        grid->addWidget(size_label, 0, 2);
        // The bounds the window-sized screen draws within.
        pixels_ = new number_field(4, 200, this);
        pixels_->setObjectName(QStringLiteral("pixels"));
        pixels_->setSuffix(QStringLiteral(" pixels"));
        pixels_->setValue(s.fontsize);
        size_label->setBuddy(pixels_);
        grid->addWidget(pixels_, 1, 2, Qt::AlignTop);
        auto* zoom = new QLabel(QStringLiteral("When the screen follows the window: Ctrl+plus, Ctrl+minus zoom, "
                                               "Ctrl+0 returns to this size. Otherwise the font fits the window."),
                                this);
        zoom->setObjectName(QStringLiteral("zoom_note"));
        zoom->setWordWrap(true);
        grid->addWidget(zoom, row++, 0, 1, 3);
    }

    sample_ = new QLabel(QStringLiteral("AaBbYyZz 0123"), this);
    sample_->setObjectName(QStringLiteral("sample"));
    sample_->setMinimumHeight(48);
    sample_->setAlignment(Qt::AlignCenter);
    sample_->setFrameShape(QFrame::Box);
    grid->addWidget(sample_, row, 0, 1, 2);

    auto* script_label = new QLabel(QStringLiteral("Sc&ript:"), this);
    grid->addWidget(script_label, row + 1, 0);
    scripts_ = new QComboBox(this);
    scripts_->setObjectName(QStringLiteral("script"));
    script_label->setBuddy(scripts_);
    grid->addWidget(scripts_, row + 2, 0);
    fill_scripts(initial_charset_);
    // Multi-byte East Asian scripts are not decoded; say so rather than show wrong letters without a word.
    auto* note = new QLabel(QStringLiteral("Bytes show in the Western code page (Windows-1252)."), this);
    note->setObjectName(QStringLiteral("script_note"));
    grid->addWidget(note, row + 3, 0, 1, 2);
    auto show_note = [this, note] { note->setVisible(script_falls_back(chosen_charset())); };
    show_note();
    connect(scripts_, &QComboBox::currentIndexChanged, this, show_note);

    connect(faces_, &QListWidget::currentTextChanged, this, [this] {
        fill_scripts(chosen_charset());
        update_sample();
    });
    connect(styles_, &QListWidget::currentRowChanged, this, [this] { update_sample(); });
    finish();
    update_sample();
}

void font_chooser::fill_scripts(int keep) {
    scripts_->clear();
    std::vector<int> codes = faces_->currentItem() ? charsets_of(faces_->currentItem()->text()) : std::vector<int>{0};
    // The stored set stays selectable even when the face does not list it.
    if (std::find(codes.begin(), codes.end(), keep) == codes.end()) codes.insert(codes.begin(), keep);
    for (int c : codes) scripts_->addItem(charset_name(c), c);
    scripts_->setCurrentIndex(scripts_->findData(keep));
}

void font_chooser::update_sample() {
    QFont f = face_request(chosen_face());
    f.setBold(chosen_bold());
    f.setItalic(chosen_italic());
    f.setPointSize(kind_ == printer && sizes_ ? std::max(6, sizes_->currentText().toInt()) : 14);
    sample_->setFont(f);
}

QString font_chooser::chosen_face() const {
    return faces_->currentItem() ? face_family(faces_->currentItem()->text()) : stored_face_;
}
bool font_chooser::chosen_bold() const { return styles_->currentRow() >= 2; }
bool font_chooser::chosen_italic() const { return styles_->currentRow() == 1 || styles_->currentRow() == 3; }
int font_chooser::chosen_charset() const {
    return scripts_->currentIndex() >= 0 ? scripts_->currentData().toInt() : initial_charset_;
}

bool font_chooser::validate() {
    if (pixels_) return pixels_->check(this, QStringLiteral("Size"));
    if (!sizes_ || sizes_->currentText() == initial_size_text_) return true;
    auto pt = connect_logic::decimal_scan(to_std(sizes_->currentText()));
    if (!pt || *pt < 1 || *pt > 1638) {
        hooks().message(this, QStringLiteral("Size must be a number between 1 and 1638."));
        sizes_->setFocus();
        return false;
    }
    return true;
}

void font_chooser::store() {
    const std::string face = chosen_face().toUtf8().toStdString();
    const int weight = chosen_bold() ? 700 : 400;
    const int italic = chosen_italic() ? 1 : 0;
    if (kind_ == screen) {
        copy_fixed(s_.font_name, face);
        s_.font_charset = chosen_charset();
        s_.font_weight = weight;
        s_.font_italic = italic;
        s_.fontsize = pixels_->value();
        return;
    }
    copy_fixed(s_.pfont_name, face);
    s_.font_pcharset = chosen_charset() & 0xFF;
    s_.askprint = control<QCheckBox>(1041)->isChecked() ? 1 : 0;
    if (sizes_->currentText() != initial_size_text_)
        s_.pfontsize = height_from_points(*connect_logic::decimal_scan(to_std(sizes_->currentText())));
    s_.pfont_weight = weight;
    s_.pfont_italic = italic;
}

// ---------------------------------------------------------------------------------------------------------------
QColor color_from_ref(int ref) { return QColor(ref & 0xFF, (ref >> 8) & 0xFF, (ref >> 16) & 0xFF); }
int ref_from_color(const QColor& c) { return c.red() | (c.green() << 8) | (c.blue() << 16); }

colour_chooser::colour_chooser(int& target, QWidget* parent, int* bold_bright)
    : QColorDialog(parent), target_(target), bold_bright_(bold_bright) {
    setOption(QColorDialog::DontUseNativeDialog);
    setOption(QColorDialog::ShowAlphaChannel, false);
    setCurrentColor(color_from_ref(target));
    if (bold_bright_) {
        bright_box_ = new QCheckBox(QStringLiteral("Show bold text in &bright colours"), this);
        bright_box_->setObjectName(QStringLiteral("bold_bright"));
        bright_box_->setChecked(*bold_bright_ != 0);
        // Above the OK/Cancel row, which the toolkit's own layout ends with.
        if (auto* box = qobject_cast<QBoxLayout*>(layout()))
            box->insertWidget(std::max(0, box->count() - 1), bright_box_);
        else
            bright_box_->hide();
    }
}

void colour_chooser::done(int result) {
    const QColor chosen = currentColor();
    QColorDialog::done(result);
    if (result != QDialog::Accepted) return;
    target_ = ref_from_color(selectedColor().isValid() ? selectedColor() : chosen);
    if (bright_box_) *bold_bright_ = bright_box_->isChecked() ? 1 : 0;
}

void colour_chooser::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_F1) {
        open_dialog_help(QStringLiteral("colours"));
        return;
    }
    QColorDialog::keyPressEvent(e);
}
