// The QtKeychain adapter against a private Secret Service: a session bus and a gnome-keyring-daemon started for
// this test (with their own scratch home) and stopped at its end.
//
// The bus starts no service of its own: with the standard service folders, a request that reached it before our
// daemon had claimed org.freedesktop.secrets made the bus start a second gnome-keyring-daemon (--start, no login
// keyring unlocked), which could win the name; ours could not, as its password still sat in QProcess's buffer
// until some event loop ran. A write to the wrong daemon waited for a password prompt, the store gave up after its
// time-out, and every later write failed at once: the first run on a fresh machine, whose cold start was the
// slowest, failed that way. Now our daemon has its password at once, and the first write waits until it owns the
// name and serves its unlocked login keyring.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
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
    static inline std::string problem;  // nothing to test with: skipped
    static inline std::string broken;   // the keyring was there but never served: failed

    static void SetUpTestSuite() {
        app();
        if (!QFileInfo::exists(QStringLiteral("/usr/bin/dbus-daemon")) ||
            !QFileInfo::exists(QStringLiteral("/usr/bin/gnome-keyring-daemon")) ||
            !QFileInfo::exists(QStringLiteral("/usr/bin/dbus-send"))) {
            problem = "dbus-daemon, dbus-send or gnome-keyring-daemon missing (scripts/deps.sh installs them)";
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

        const QString config = home->path() + QStringLiteral("/bus.conf");
        QFile conf(config);
        if (!conf.open(QIODevice::WriteOnly) || conf.write(bus_config(runtime)) < 0) {
            problem = "the private bus configuration could not be written";
            return;
        }
        conf.close();
        bus = new QProcess;
        bus->start(QStringLiteral("/usr/bin/dbus-daemon"),
                   {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                    QStringLiteral("--print-address=1")});
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
        // Unlocks (creates) the login keyring without a prompt. QProcess writes only from its event loop, which no
        // one ran before the first keychain job: the daemon waited for its password meanwhile.
        keyring->write("test-keyring-password");
        if (!keyring->waitForBytesWritten(5000)) {
            broken = "gnome-keyring-daemon did not take its password";
            return;
        }
        keyring->closeWriteChannel();
        broken = wait_for_keyring();
    }

    // A session bus like the standard one, but with no service folders: nothing is started on demand.
    static QByteArray bus_config(const QString& runtime) {
        return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:dir=" +
               runtime.toLocal8Bit() +
               "</listen><auth>EXTERNAL</auth>"
               "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    }

    // One method call on the private bus by dbus-send; its printed reply, empty on an error.
    static QString bus_call(const QString& dest, const QString& path, const QString& method, const QString& arg) {
        QProcess p;
        p.start(QStringLiteral("/usr/bin/dbus-send"),
                {QStringLiteral("--bus=") + QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")),
                 QStringLiteral("--print-reply"), QStringLiteral("--reply-timeout=2000"),
                 QStringLiteral("--dest=") + dest, path, method, QStringLiteral("string:") + arg});
        if (!p.waitForFinished(5000) || p.exitCode() != 0) return {};
        return QString::fromLocal8Bit(p.readAllStandardOutput());
    }

    // Until our daemon owns the Secret Service's name and its default collection is the unlocked login keyring; the
    // problem, empty once it does.
    static std::string wait_for_keyring() {
        const QString ours = QStringLiteral("uint32 ") + QString::number(keyring->processId());
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 60000) {  // generous: a loaded machine starts the daemon slowly
            if (keyring->state() == QProcess::NotRunning)
                return "gnome-keyring-daemon exited: " + keyring->readAllStandardError().toStdString();
            const QString owner = bus_call(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/"),
                                           QStringLiteral("org.freedesktop.DBus.GetConnectionUnixProcessID"),
                                           QStringLiteral("org.freedesktop.secrets"));
            if (owner.contains(ours) &&
                bus_call(QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
                         QStringLiteral("org.freedesktop.Secret.Service.ReadAlias"), QStringLiteral("default"))
                    .contains(QStringLiteral("/collection/login")))
                return {};
            QThread::msleep(50);
        }
        return "gnome-keyring-daemon did not serve its login keyring within 60 s";
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
};

TEST_F(PrivateKeyring, SecretsAreWrittenReadAndRemoved) {
    ASSERT_TRUE(broken.empty()) << broken;
    keychain_secret_store store(QStringLiteral("qtelnet-test"));
    ASSERT_TRUE(store.write("Version 1.0/1", "s3cret with spaces \xC3\xA9")) << "the keyring was ready";
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
