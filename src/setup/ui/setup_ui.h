#pragma once
// Runs the installer (uninstall = false) or the uninstaller wizard in its full-screen "Setup" window and returns
// the process exit code. Creates the QApplication itself when none exists yet.
int run_setup(int argc, char** argv, bool uninstall);
