#include "setup/ui/setup_window.h"

#include <QPainter>
#include <QTimer>

namespace {
constexpr int bands = 64;
}

int setup_band_blue(int band) { return 255 - 4 * band; }

CMainWindow::CMainWindow(std::function<int(QWidget*)> wizard, QWidget* parent)
    : QMainWindow(parent), wizard_(std::move(wizard)) {
    setWindowTitle("Setup");
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CMainWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int h = height();
    for (int i = 0; i < bands; ++i) {
        // Band edges computed from the whole height so the bands always fill the window without gaps.
        const int top = h * i / bands, bottom = h * (i + 1) / bands;
        p.fillRect(0, top, width(), bottom - top, QColor(0, 0, setup_band_blue(i)));
    }
    QFont f("Times New Roman");
    f.setPixelSize(std::max(1, logicalDpiY() / 3));
    f.setBold(true);
    f.setItalic(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.setBackgroundMode(Qt::TransparentMode);
    p.drawText(QPoint(10, 10 + QFontMetrics(f).ascent()), "Quill W32 Telnet + SSH-1/2");

    if (!started_) {
        started_ = true;
        // Modal pages must not run inside the paint handler itself.
        QTimer::singleShot(0, this, &CMainWindow::run_wizard);
    }
}

void CMainWindow::run_wizard() {
    exit_code_ = wizard_ ? wizard_(this) : 0;
    emit wizard_finished(exit_code_);
    close();
}
