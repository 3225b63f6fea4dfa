#pragma once
// The full-screen "Setup" window: a blue gradient with the product name, in which the wizard pages run once, on
// the first paint.
#include <QMainWindow>
#include <functional>

class CMainWindow : public QMainWindow {
    Q_OBJECT
public:
    // `wizard` runs the page sequence and returns the exit code; the window closes when it returns.
    explicit CMainWindow(std::function<int(QWidget*)> wizard, QWidget* parent = nullptr);

    int exit_code() const { return exit_code_; }
    bool wizard_started() const { return started_; }

signals:
    void wizard_finished(int code);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    void run_wizard();

    std::function<int(QWidget*)> wizard_;
    bool started_ = false;
    int exit_code_ = 0;
};

// The colour of gradient band i (0 = top) of 64.
int setup_band_blue(int band);
