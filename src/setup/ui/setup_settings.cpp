#include "setup/ui/setup_settings.h"

#include "adapters/keychain_secret_store.h"
#include "adapters/qsettings_backend.h"

namespace {
struct client_stores {
    qsettings_backend file{QStringLiteral("qtelnet")};
    keychain_secret_store secrets;
};

// Removing a configuration also takes its remembered password out of the secret store.
struct client_settings final : private client_stores, public secret_routing_backend {
    client_settings() : secret_routing_backend(file, secrets) {}
};
}  // namespace

std::unique_ptr<settings_backend> open_client_settings() { return std::make_unique<client_settings>(); }
