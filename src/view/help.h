#pragma once
// The help document that ships with the program (dist/help/qtelnet.html).
#include <QString>

// Where the help document is: next to the program (as installed: qtelnet.html or help/qtelnet.html beside the
// binary, or ../share/qtelnet/help/), else the source tree's dist/help when run from a build tree. Empty when
// none exists. `app_dir` defaults to the running program's folder.
QString help_file_path(const QString& app_dir = QString());

// Opens the help document in the desktop's browser, at `anchor` when given (e.g. "connect", "proxy").
// False when there is no help document or no handler could open it.
bool open_help(const QString& anchor = QString());
