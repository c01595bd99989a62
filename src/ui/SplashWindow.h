#pragma once

#include <QWidget>

#include <chrono>

class QTimer;

namespace sentrel {

// The splash window `frmSplash`, shown without waiting while the program starts. Start-up
// takes milliseconds, so the window keeps itself up for a while of its own, whatever the
// main window does meanwhile; it closes itself then, or earlier on a key press or a click,
// and deletes itself once closed.
class SplashWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds DefaultShownFor {1500};

    explicit SplashWindow(std::chrono::milliseconds shownFor = DefaultShownFor, QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QTimer *m_shownFor;
};

} // namespace sentrel
