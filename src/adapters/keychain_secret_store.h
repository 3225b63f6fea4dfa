#pragma once
// The desktop's secret store through QtKeychain (the Secret Service on Linux, the Credential Manager on Windows):
// service "qtelnet", one entry per configuration section. Calls wait for the answer (a few seconds at most); a
// session without a secret service answers "unavailable" at once.
#include <QString>

#include "config/secret_store.h"

namespace QKeychain {
class Job;
}

class keychain_secret_store final : public secret_store {
public:
    explicit keychain_secret_store(QString service = QStringLiteral("qtelnet"), int timeout_ms = 5000)
        : service_(std::move(service)), timeout_ms_(timeout_ms) {}

    result read(std::string_view key, std::string& value) override;
    bool write(std::string_view key, std::string_view value) override;
    bool remove(std::string_view key) override;

private:
    bool reachable();
    // Runs job for key to its end; false (and the store given up for this run) when it timed out.
    bool run_for(QKeychain::Job& job, std::string_view key);

    QString service_;
    int timeout_ms_;
    bool gave_up_ = false;  // a store that did not answer in time is not asked again in this run
};
