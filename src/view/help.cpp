#include "view/help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

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

bool open_help(const QString& anchor) {
    QString path = help_file_path();
    if (path.isEmpty()) return false;
    QUrl url = QUrl::fromLocalFile(path);
    if (!anchor.isEmpty()) url.setFragment(anchor);
    return QDesktopServices::openUrl(url);
}
