#include "app/mainframe.h"

// Handlers and enable rules for the settings dialogs' menu items.
void register_dialog_commands(CMainFrame&) {}
