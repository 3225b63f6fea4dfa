#include "setup/role.h"

app_role program_role(std::string_view argv0) {
    std::string_view name = argv0;
    if (auto slash = name.find_last_of('/'); slash != std::string_view::npos) name.remove_prefix(slash + 1);
    // A leading dot is part of a hidden file's name, not an extension.
    if (auto dot = name.find_last_of('.'); dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
    if (name == "setup" || name == "SETUP") return app_role::installer;
    if (name == "qtuninst" || name == "QTUNINST") return app_role::uninstaller;
    return app_role::client;
}
