#pragma once
// The wizard pages as modal Qt dialogs, and the desktop services the installer starts.
#include <QString>

#include "setup/wizard.h"

class QWidget;

class qt_setup_pages : public setup_pages {
public:
    explicit qt_setup_pages(QWidget* parent) : parent_(parent) {}

    page_result welcome() override;
    page_result agreement(const std::string& licence_text) override;
    page_result start(install_choices& choices) override;
    void completed(const std::function<void()>& view_readme) override;
    overwrite_answer ask_overwrite(const std::string& path) override;
    bool uninstall(std::string& home) override;
    void farewell() override;
    void error(const std::string& text) override;
    void warning(const std::string& text) override;

private:
    QWidget* parent_;
};

class qt_setup_shell : public setup_shell {
public:
    bool view_file(const std::filesystem::path& file) override;
    bool open_folder(const std::filesystem::path& folder) override;
    bool start_program(const std::filesystem::path& program, const std::filesystem::path& working_dir) override;
};

// The longest text the agreement page shows.
inline constexpr int agreement_text_limit = 7998;
