#pragma once
// The client's settings store as the uninstaller sees it: the installed program's name, not the uninstaller's.
#include <memory>

#include "config/settings_backend.h"

std::unique_ptr<settings_backend> open_client_settings();
