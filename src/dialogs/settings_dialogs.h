#pragma once
// The settings dialogs opened from the Settings menu and the sign-on dialog the Secure Shell engines use.
// Each is built from a settings record and writes it back only when OK is accepted.
#include <QSpinBox>

#include "dialogs/dialog_base.h"

struct Settings;
struct ssh_profile;
class QListWidget;

// A number field that takes whatever number is typed and refuses one outside low..high when OK is pressed, with a
// message naming the range. A plain spin box drops the keystroke that would leave its range, so 250000 typed into a
// field of at most 100,000 became 25,000 without a word. The arrows stay within the range.
class number_field : public QSpinBox {
    Q_OBJECT
public:
    number_field(int low, int high, QWidget* parent);
    int low() const { return low_; }
    int high() const { return high_; }
    // True when the value is in range; otherwise tells the user "<what> takes a number from low to high.", puts
    // the focus on the field and returns false.
    bool check(QWidget* dialog, const QString& what);
    void stepBy(int steps) override;

private:
    int low_, high_;
};

// Proxy Configuration.
class getproxy : public settings_dialog {
    Q_OBJECT
public:
    getproxy(Settings& s, QWidget* parent = nullptr);

protected:
    void store() override;

private:
    Settings& s_;
};

// Auto - Login: two search/response pairs.
class getauto : public settings_dialog {
    Q_OBJECT
public:
    getauto(Settings& s, QWidget* parent = nullptr);

protected:
    void store() override;

private:
    Settings& s_;
};

// Terminal type (listed types or any text, and a choice that sets today's defaults: xterm-256color with UTF-8, the
// habit switches, the locale, 10,000 lines and, where the classic colours stand, a readable palette), answerback,
// keyboard/bell options and the scroll-back.
class getterm : public settings_dialog {
    Q_OBJECT
public:
    getterm(Settings& s, QWidget* parent = nullptr);

    static const char* const term_type_choices[4];
    // Also ticks Alt as Meta, three wheel lines a notch, the disconnect question, the window-sized screen and the
    // locale.
    static const char* const todays_hosts_choice;

protected:
    bool validate() override;
    void store() override;

private:
    Settings& s_;
    bool todays_picked_ = false;  // the profile also brings its palette where the classic one stands
};

// Cursor shape and blinking; a double-click on a shape acts as OK.
class getcursor : public settings_dialog {
    Q_OBJECT
public:
    getcursor(Settings& s, QWidget* parent = nullptr);
    QListWidget* shapes() const { return list_; }

protected:
    void store() override;

private:
    Settings& s_;
    QListWidget* list_ = nullptr;
};

// Printer margins A (left) and B (top), with a picture of both.
class getmargin : public settings_dialog {
    Q_OBJECT
public:
    getmargin(Settings& s, QWidget* parent = nullptr);

protected:
    void store() override;

private:
    Settings& s_;
};

// Names of the three mapping files.
class getkey : public settings_dialog {
    Q_OBJECT
public:
    getkey(Settings& s, QWidget* parent = nullptr);

protected:
    void store() override;

private:
    Settings& s_;
};

// Sign on to the host: user name, password and the remember switch.
class getssh : public settings_dialog {
    Q_OBJECT
public:
    getssh(Settings& s, QWidget* parent = nullptr);
    getssh(ssh_profile& s, QWidget* parent = nullptr);

protected:
    void store() override;

private:
    getssh(std::string& user, std::string& password, int& remember, QWidget* parent);
    std::string& user_;
    std::string& password_;
    int& remember_;
};

// Asks for the user name and password of a secure session. On OK `ssh_user`, `ssh_password` and `ssh_default`
// are stored and the result is true; on Cancel nothing changes and the result is false.
bool session_sign_on(Settings& s, QWidget* parent = nullptr);
bool session_sign_on(ssh_profile& s, QWidget* parent = nullptr);
bool session_sign_on();  // process-wide record, active window as parent
