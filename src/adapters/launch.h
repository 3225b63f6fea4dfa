#pragma once
// Starting outside programs (the desktop's opener for help and README, the mail program) so that a failure reaches
// the user: a program that cannot start, or that ends with a failure status (xdg-open when no viewer exists), is
// reported through a callback instead of only on the standard error. Header-only, so the dialogs, the view and the
// installer share it without another library.
#include <QCoreApplication>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>

namespace launch {

// Gets why a program failed, for a message to the user.
using report = std::function<void(const QString& reason)>;

// The program that opens a document or address on this desktop; tests point it elsewhere.
inline QString& opener() {
    static QString program = QStringLiteral("xdg-open");
    return program;
}

// The last `keep` characters of what a program wrote to its standard error: enough for the reason, bounded
// however much a long-running browser writes.
inline constexpr qsizetype error_tail_chars = 300;

// Starts `program` and lets it run; it is not waited for (a browser started by the opener may run for hours) and
// outlives the client. `failed` runs at most once, from the event loop. The returned process deletes itself once
// it has ended (tests watch it; callers need not keep it).
inline QProcess* start(const QString& program, const QStringList& args, report failed) {
    // Not owned by the application object: deleting a running QProcess would kill the viewer at exit.
    auto* p = new QProcess;
    auto tail = std::make_shared<QString>();
    auto reported = std::make_shared<bool>(false);
    auto fail = [failed, reported](const QString& why) {
        if (*reported) return;
        *reported = true;
        if (failed) failed(why);
    };
    p->setProgram(program);
    p->setArguments(args);
    p->setStandardOutputFile(QProcess::nullDevice());
    QObject::connect(p, &QProcess::readyReadStandardError, p, [p, tail] {
        *tail += QString::fromLocal8Bit(p->readAllStandardError());
        if (tail->size() > error_tail_chars) *tail = tail->right(error_tail_chars);
    });
    QObject::connect(p, &QProcess::errorOccurred, p, [p, program, fail](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart) return;
        fail(QStringLiteral("%1 could not be started").arg(program));
        p->deleteLater();
    });
    QObject::connect(p, &QProcess::finished, p, [p, program, tail, fail](int code, QProcess::ExitStatus status) {
        *tail += QString::fromLocal8Bit(p->readAllStandardError());
        if (status != QProcess::NormalExit || code != 0) {
            QString why = status != QProcess::NormalExit
                              ? QStringLiteral("%1 stopped").arg(program)
                              : QStringLiteral("%1 ended with status %2").arg(program).arg(code);
            const QString last = tail->trimmed().section(QLatin1Char('\n'), -1).trimmed();
            if (!last.isEmpty()) why += QStringLiteral(": ") + last.right(error_tail_chars);
            fail(why);
        }
        p->deleteLater();
    });
    p->start();
    return p;
}

// Opens a local file (at `anchor` when given) with the desktop's opener.
inline QProcess* open_file(const QString& path, const QString& anchor, report failed) {
    QUrl url = QUrl::fromLocalFile(path);
    if (!anchor.isEmpty()) url.setFragment(anchor);
    return start(opener(), {anchor.isEmpty() ? path : url.toString(QUrl::FullyEncoded)}, std::move(failed));
}

// The user's message when `what` (a document) could not be shown: the reason and where the file is, so it can be
// opened by hand.
inline QString not_opened_text(const QString& what, const QString& why, const QString& path) {
    return QStringLiteral("%1 could not be opened (%2).\nIt is at: %3").arg(what, why, path);
}

}  // namespace launch
