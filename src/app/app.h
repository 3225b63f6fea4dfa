#pragma once
// The application object: decides from the program's name whether it runs the installer, the uninstaller or the
// terminal client, and starts the client (command line, settings backend, document, main window, automatic
// connection, saving when the desktop session ends).
class CVellumApp {
public:
    // The whole program; returns the process exit code.
    int run(int argc, char** argv);
};
