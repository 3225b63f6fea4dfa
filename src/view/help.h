#pragma once
// The help document that ships with the program (dist/help/qtelnet.html).
#include <QString>
#include <functional>

// Where the help document is: next to the program (as installed: qtelnet.html or help/qtelnet.html beside the
// binary, or ../share/qtelnet/help/), else the source tree's dist/help when run from a build tree. Empty when
// none exists. `app_dir` defaults to the running program's folder.
QString help_file_path(const QString& app_dir = QString());

// Opens the help document in the desktop's browser, at `anchor` when given (e.g. "connect", "proxy").
// `failed` gets a message for the user, naming the document's path, when there is no help document or nothing
// could show it (possibly later, from the event loop, when the opener gives up).
void open_help(const QString& anchor, const std::function<void(const QString& message)>& failed);
