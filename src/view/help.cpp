#include "view/help.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "adapters/launch.h"

#ifndef QTELNET_SOURCE_DIR
#define QTELNET_SOURCE_DIR ""
#endif

QString help_file_path(const QString& app_dir) {
    QString dir = app_dir.isEmpty() ? QCoreApplication::applicationDirPath() : app_dir;
    const QStringList candidates = {
        dir + "/qtelnet.html",
        dir + "/help/qtelnet.html",
        dir + "/../share/qtelnet/help/qtelnet.html",
        QStringLiteral(QTELNET_SOURCE_DIR) + "/dist/help/qtelnet.html",
    };
    for (const QString& c : candidates) {
        if (c.startsWith('/') && QFileInfo(c).isFile()) return QFileInfo(c).canonicalFilePath();
    }
    return {};
}

void open_help(const QString& anchor, const std::function<void(const QString& message)>& failed) {
    const QString path = help_file_path();
    if (path.isEmpty()) {
        if (failed) failed(QStringLiteral("The help document (help/qtelnet.html beside the program) is missing."));
        return;
    }
    launch::open_file(path, anchor, [failed, path](const QString& why) {
        if (failed) failed(launch::not_opened_text(QStringLiteral("The help document"), why, path));
    });
}
