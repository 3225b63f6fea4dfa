// What the view starts outside itself: programs through the launcher (a failure must reach the user) and the file
// choosers' start folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include "../support/qt_test_support.h"
#include "adapters/launch.h"
#include "view/capture.h"

namespace {
using qt_test_support::pump_until;
using qt_test_support::test_app;

struct launched {
    int reports = 0;
    QString reason;
};

// Starts a program and waits, bounded, until it has ended and its process object is gone.
launched run(const QString& program, const QStringList& args) {
    launched out;
    QPointer<QProcess> p = launch::start(program, args, [&out](const QString& why) {
        ++out.reports;
        out.reason = why;
    });
    EXPECT_TRUE(pump_until([&] { return p.isNull(); }, 10000)) << program.toStdString();
    return out;
}

TEST(Launch, AFailureToStartOrAFailureStatusIsReportedOnceWithTheReason) {
    test_app();
    struct row {
        QString program;
        QStringList args;
        int reports;
        QStringList reason_has;
    };
    const row rows[] = {
        {"/bin/sh", {"-c", "exit 0"}, 0, {}},
        // As xdg-open ends when no viewer exists.
        {"/bin/sh",
         {"-c", "echo 'first line' >&2; echo \"xdg-open: no method available for opening 'x'\" >&2; exit 3"},
         1,
         {"/bin/sh ended with status 3", "no method available"}},
        {"/no/such/program", {}, 1, {"/no/such/program could not be started"}},
        {"/bin/sh", {"-c", "kill -9 $$"}, 1, {"/bin/sh stopped"}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.args.join(' ').toStdString());
        const launched got = run(r.program, r.args);
        EXPECT_EQ(got.reports, r.reports);
        for (const QString& part : r.reason_has) EXPECT_TRUE(got.reason.contains(part)) << got.reason.toStdString();
        EXPECT_FALSE(got.reason.contains("first line")) << "only the last line of the error output";
    }
}

TEST(Launch, ErrorOutputKeptForTheReasonIsBounded) {
    test_app();
    const launched got = run("/bin/sh", {"-c", "head -c 200000 /dev/zero | tr '\\0' x >&2; exit 1"});
    EXPECT_EQ(got.reports, 1);
    EXPECT_LE(got.reason.size(), launch::error_tail_chars + 40);
}

TEST(CaptureChooser, OpensInTheHomeFolderThenWhereTheLastFileWasChosen) {
    test_app();
    QTemporaryDir home;
    const QByteArray old_home = qgetenv("HOME");
    qputenv("HOME", home.path().toLocal8Bit());
    ASSERT_TRUE(QDir(home.path()).mkdir("logs"));
    // Answers the next modal chooser: notes where it opened, then picks `file` (or cancels when empty).
    QString opened;
    auto answer = [&opened](const QString& file) {
        auto* t = new QTimer;
        QObject::connect(t, &QTimer::timeout, [t, &opened, file] {
            auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!d) return;
            t->deleteLater();
            t->stop();
            opened = d->directory().absolutePath();
            d->selectFile(file);
            QMetaObject::invokeMethod(d, file.isEmpty() ? "reject" : "accept");
        });
        t->start(10);
    };
    answer(home.filePath("logs/session.txt"));
    EXPECT_EQ(capture::choose_capture_file(nullptr), home.filePath("logs/session.txt"));
    EXPECT_EQ(opened, QDir(home.path()).absolutePath());
    answer({});
    EXPECT_EQ(capture::choose_file_to_send(nullptr), QString());
    EXPECT_EQ(opened, QDir(home.filePath("logs")).absolutePath());
    qputenv("HOME", old_home);
}

}  // namespace
