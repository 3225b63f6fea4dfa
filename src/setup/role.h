#pragma once
// One program file plays three parts; which one is decided by the name it was started under.
#include <string_view>

enum class app_role { client, installer, uninstaller };

// argv0 is the program path as started (any directories and one extension are ignored). Only the exact
// spellings "setup"/"SETUP" and "qtuninst"/"QTUNINST" select the wizards; "Setup" is the client.
app_role program_role(std::string_view argv0);
