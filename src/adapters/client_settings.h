#pragma once
// The client's settings as every part of the program opens them (the client, the uninstaller): the per-user
// settings file, with the remembered SSH password kept in the desktop's secret store instead.
#include "adapters/keychain_secret_store.h"
#include "adapters/qsettings_backend.h"

namespace client_settings_parts {
// A base class, so that both stores exist before the routing backend that refers to them.
struct stores {
    qsettings_backend file{QStringLiteral("qtelnet")};
    keychain_secret_store secrets;
};
}  // namespace client_settings_parts

class client_settings final : private client_settings_parts::stores, public secret_routing_backend {
public:
    client_settings() : secret_routing_backend(file, secrets) {}
};
