#include "setup/ui/setup_settings.h"

#include "adapters/qsettings_backend.h"

std::unique_ptr<settings_backend> open_client_settings()
{
    return std::make_unique<qsettings_backend>(QStringLiteral("qtelnet"));
}
