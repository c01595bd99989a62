#pragma once

#include <QWidget>

namespace sentrel {

// The splash window `frmSplash`, shown without waiting while the program starts. It
// closes itself on a key press or a click, and deletes itself once closed, so the main
// window holds it in a QPointer and closes it, if still there, at the end of start-up.
class SplashWindow : public QWidget
{
    Q_OBJECT
public:
    explicit SplashWindow(QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
};

} // namespace sentrel
