#include "setup/ui/setup_settings.h"

#include "adapters/client_settings.h"

// Removing a configuration also takes its remembered password out of the secret store.
std::unique_ptr<settings_backend> open_client_settings() { return std::make_unique<client_settings>(); }
