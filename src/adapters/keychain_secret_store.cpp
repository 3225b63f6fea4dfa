#include "adapters/keychain_secret_store.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <qt6keychain/keychain.h>

#include <cstdlib>

namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Runs one job to its end, or gives up after timeout_ms. False when it timed out.
bool run(QKeychain::Job& job, int timeout_ms) {
    job.setAutoDelete(false);
    QEventLoop loop;
    bool done = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        done = true;
        loop.quit();
    });
    QTimer::singleShot(timeout_ms, &loop, &QEventLoop::quit);
    job.start();
    if (!done) loop.exec(QEventLoop::ExcludeUserInputEvents);
    return done;
}

}  // namespace

bool keychain_secret_store::reachable() {
    if (gave_up_) return false;
    // No session bus at all: asking would only wait for the time-out.
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (bus && *bus) return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime && *runtime && QFileInfo::exists(QString::fromLocal8Bit(runtime) + QStringLiteral("/bus"));
}

bool keychain_secret_store::run_for(QKeychain::Job& job, std::string_view key) {
    job.setInsecureFallback(false);  // never into a plain file
    job.setKey(qs(key));
    if (run(job, timeout_ms_)) return true;
    gave_up_ = true;
    return false;
}

secret_store::result keychain_secret_store::read(std::string_view key, std::string& value) {
    if (!reachable()) return result::unavailable;
    QKeychain::ReadPasswordJob job(service_);
    if (!run_for(job, key)) return result::unavailable;
    if (job.error() == QKeychain::EntryNotFound) return result::not_found;
    if (job.error() != QKeychain::NoError) return result::unavailable;
    value = job.textData().toUtf8().toStdString();
    return result::found;
}

bool keychain_secret_store::write(std::string_view key, std::string_view value) {
    if (!reachable()) return false;
    QKeychain::WritePasswordJob job(service_);
    job.setTextData(qs(value));
    if (!run_for(job, key)) return false;
    return job.error() == QKeychain::NoError;
}

bool keychain_secret_store::remove(std::string_view key) {
    if (!reachable()) return false;
    QKeychain::DeletePasswordJob job(service_);
    if (!run_for(job, key)) return false;
    return job.error() == QKeychain::NoError || job.error() == QKeychain::EntryNotFound;
}
