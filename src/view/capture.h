#pragma once
// The File menu's file commands on the view side: capture on/off, sending a file to the host, mailing the screen.
// File choosers and the mail launcher are passed in so that tests run them without dialogs.
#include <QString>
#include <QTime>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "terminal/printer/file_commands.h"

class QWidget;
struct ui_services;

namespace capture {

using chooser = std::function<QString()>;  // a path, or empty for Cancel

// "Text files (*.txt)" first, then all files.
QString text_file_filter();
// Where both choosers open: the folder of the file last chosen in this run, else the user's home.
QString chooser_folder();
// The dialogs: capture names a file that need not exist (it is appended to, never truncated); sending needs one
// that does.
QString choose_capture_file(QWidget* parent);
QString choose_file_to_send(QWidget* parent);
// A path as the C library wants it.
std::string local_path(const QString& path);

// "&Save to File...": stops capture when it runs (no dialog), else asks for a file and starts it. `s` offers
// capture_file() and set_capture_file(std::string) (the session). Returns whether capture runs afterwards.
template <class Session>
bool toggle(Session& s, const chooser& choose) {
    if (!s.capture_file().empty()) {
        s.set_capture_file({});
        return false;
    }
    const QString path = choose ? choose() : QString();
    if (path.isEmpty()) return false;
    s.set_capture_file(local_path(path));
    return true;
}

// "&Read from File...": the chosen file goes to the host as typed input through `send` (send_to_host).
using sender = std::function<int(const std::uint8_t*, std::size_t)>;
printing::send_result read_from_file(const sender& send, ui_services& ui, const chooser& choose);

// A mail program that can attach a file, or empty when none is installed.
QString mail_program();
// "&Send...": writes the screen text file into temp_dir under the time-stamped name and hands it to the mail
// program as an attachment. `launch` starts a program detached (program, arguments); returns false on failure.
// Returns the written path, or empty when the file could not be written or the mail program not started.
// `utf8`: the connection's encoding (else the text is the screen's bytes).
using launcher = std::function<bool(const QString&, const QStringList&)>;
QString mail_screen(const printing::printer_screen& screen, bool utf8, const QString& temp_dir, const QTime& now,
                    const QString& program, const launcher& launch);

}  // namespace capture
