#pragma once
// Common pattern of every settings dialog: fields are filled from the settings record when the dialog is built
// and copied back only when OK is accepted. Text fields refuse typing beyond their limit; a value that already
// stands longer than the limit (imported from config.txt, say) can be shortened but blocks OK until it fits.
// Help and F1 open the help document at the dialog's own section.
#include <QDialog>
#include <QString>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QDialogButtonBox;
class QFormLayout;
class QLineEdit;
class QUrl;
class QVBoxLayout;

// Outside effects of the dialogs, replaceable by tests: the modal message and opening a help page.
struct dialog_hooks {
    std::function<void(QWidget* parent, const QString& text)> message;
    std::function<void(const QUrl& url)> open_url;
};
dialog_hooks& hooks();

// Help document location: next to the program, or the source tree's dist/help when run from a build tree.
QString dialog_help_path();
void open_dialog_help(const QString& anchor);

// Keeps a line edit from growing beyond `limit` characters while letting an over-long value shrink.
void limit_length(QLineEdit* edit, int limit);
void set_limited_text(QLineEdit* edit, const QString& text);

QString to_qstring(const std::string& s);
std::string to_std(const QString& s);

class settings_dialog : public QDialog {
    Q_OBJECT
public:
    settings_dialog(const QString& title, const QString& help_anchor, QWidget* parent);

    // A control by its resource number, e.g. control<QLineEdit>(1000).
    template <class T>
    T* control(int id) const {
        return findChild<T*>(QStringLiteral("c%1").arg(id));
    }
    const QString& help_anchor() const { return anchor_; }

public slots:
    void accept() override;
    void help();

protected:
    // Copies the fields back into the settings record; called once OK is accepted.
    virtual void store() = 0;
    // Extra checks before store(); false keeps the dialog open.
    virtual bool validate() { return true; }

    QLineEdit* add_edit(int id, const QString& label, int limit, const QString& text);
    QCheckBox* add_check(int id, const QString& label, bool on);
    // Limits an edit made elsewhere (a combo box's edit) and checks it on OK.
    void track(QLineEdit* edit, int limit, const QString& text);
    void add_row(const QString& label, QWidget* w);
    void add_widget(QWidget* w);
    void finish();  // OK, Cancel, Help

    void keyPressEvent(QKeyEvent* e) override;

    QVBoxLayout* outer_ = nullptr;
    QFormLayout* form_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;

private:
    bool check_lengths();
    struct limited {
        QLineEdit* edit;
        int limit;
    };
    std::vector<limited> limited_;
    QString anchor_;
};

void set_control_id(QWidget* w, int id);
