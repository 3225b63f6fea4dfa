// The QtKeychain adapter against a private Secret Service: a session bus and a gnome-keyring-daemon started for
// this test (with their own scratch home) and stopped at its end.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "adapters/keychain_secret_store.h"

namespace {

// One bus and one keyring daemon for the whole suite: the secret-service client library keeps its connection for
// the life of the process.
class PrivateKeyring : public ::testing::Test {
protected:
    static QCoreApplication& app() {
        static int argc = 1;
        static char name[] = "keychain_secret_store_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication a(argc, argv);
        return a;
    }

    static inline QTemporaryDir* home = nullptr;
    static inline QProcess* bus = nullptr;
    static inline QProcess* keyring = nullptr;
    static inline std::string problem;

    static void SetUpTestSuite() {
        app();
        if (!QFileInfo::exists(QStringLiteral("/usr/bin/dbus-daemon")) ||
            !QFileInfo::exists(QStringLiteral("/usr/bin/gnome-keyring-daemon"))) {
            problem = "dbus-daemon or gnome-keyring-daemon missing (scripts/deps.sh installs them)";
            return;
        }
        home = new QTemporaryDir;
        const QString runtime = home->path() + QStringLiteral("/run");
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        // Children and the adapter see only this private home, bus and keyring.
        qputenv("HOME", home->path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", (home->path() + QStringLiteral("/data")).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (home->path() + QStringLiteral("/config")).toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());

        bus = new QProcess;
        bus->start(QStringLiteral("/usr/bin/dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        QElapsedTimer t;
        t.start();
        while (bus->waitForStarted(100) && !bus->canReadLine() && t.elapsed() < 5000) bus->waitForReadyRead(100);
        const QByteArray address = bus->readLine().trimmed();
        if (address.isEmpty()) {
            problem = "the private session bus gave no address";
            return;
        }
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);

        keyring = new QProcess;
        keyring->start(
            QStringLiteral("/usr/bin/gnome-keyring-daemon"),
            {QStringLiteral("--unlock"), QStringLiteral("--components=secrets"), QStringLiteral("--foreground")});
        if (!keyring->waitForStarted(5000)) {
            problem = "gnome-keyring-daemon did not start";
            return;
        }
        keyring->write("test-keyring-password");  // unlocks (creates) the login keyring without a prompt
        keyring->closeWriteChannel();
    }

    static void TearDownTestSuite() {
        for (QProcess* p : {keyring, bus}) {
            if (!p || p->state() == QProcess::NotRunning) continue;
            p->terminate();
            if (!p->waitForFinished(3000)) {
                p->kill();
                p->waitForFinished(3000);
            }
        }
        delete keyring;
        delete bus;
        delete home;
        keyring = bus = nullptr;
        home = nullptr;
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

    void SetUp() override {
        if (!problem.empty()) GTEST_SKIP() << problem;
    }

    // The daemon needs a moment to claim its name on the bus.
    static bool write_when_ready(keychain_secret_store& s, std::string_view key, std::string_view value) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 30000) {  // generous: a loaded machine starts the daemon slowly
            if (s.write(key, value)) return true;
            QThread::msleep(100);
        }
        return false;
    }
};

TEST_F(PrivateKeyring, SecretsAreWrittenReadAndRemoved) {
    keychain_secret_store store(QStringLiteral("qtelnet-test"));
    ASSERT_TRUE(write_when_ready(store, "Version 1.0/1", "s3cret with spaces \xC3\xA9"));
    std::string value;
    ASSERT_EQ(store.read("Version 1.0/1", value), secret_store::result::found);
    EXPECT_EQ(value, "s3cret with spaces \xC3\xA9");
    EXPECT_EQ(store.read("Version 1.0/2", value), secret_store::result::not_found);
    EXPECT_TRUE(store.remove("Version 1.0/1"));
    EXPECT_EQ(store.read("Version 1.0/1", value), secret_store::result::not_found);
}

TEST_F(PrivateKeyring, NoSessionBusMeansUnavailableAtOnce) {
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "");
    qputenv("XDG_RUNTIME_DIR", (home->path() + QStringLiteral("/nowhere")).toLocal8Bit());
    keychain_secret_store store(QStringLiteral("qtelnet-test"), 2000);
    QElapsedTimer t;
    t.start();
    std::string value;
    EXPECT_EQ(store.read("Version 1.0/1", value), secret_store::result::unavailable);
    EXPECT_FALSE(store.write("Version 1.0/1", "pw"));
    EXPECT_LT(t.elapsed(), 1000);
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    qputenv("XDG_RUNTIME_DIR", runtime);
}

}  // namespace
