#pragma once

#include "ui/DesktopTray.h"

#include <QColor>
#include <QIcon>
#include <QMenu>
#include <QPalette>
#include <QString>

namespace sentrel::test {

// A tray that records what the window shows in it, and can be made to go away.
class FakeTray : public TrayBackend
{
public:
    void setIcon(const QIcon &i) override { icon = i; }
    void setToolTip(const QString &text) override { toolTip = text; }
    void setContextMenu(QMenu *m) override { menu = m; }
    void show() override { shown = true; }
    void showMessage(const QString &, const QString &, bool) override { }
    bool isAvailable() const override { return available; }

    QIcon icon;
    QString toolTip;
    QMenu *menu = nullptr;
    bool shown = false;
    bool available = true;
};

// A dark desktop theme's colours, as Breeze Dark sets them.
inline QPalette darkPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x31, 0x36, 0x3b));
    p.setColor(QPalette::WindowText, QColor(0xef, 0xf0, 0xf1));
    p.setColor(QPalette::Base, QColor(0x23, 0x26, 0x29));
    p.setColor(QPalette::Text, QColor(0xef, 0xf0, 0xf1));
    p.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9));
    return p;
}

} // namespace sentrel::test
