#pragma once

#include <QLabel>

class QAbstractItemView;

namespace sentrel {

// What a new user reads in the grid while it has no rows: how to add the first Target.
// It lies over the view's empty area, lets clicks through and goes with the first row.
class EmptyGridHint : public QLabel
{
    Q_OBJECT
public:
    // Owned by the view's viewport.
    EmptyGridHint(QAbstractItemView *view, const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void follow();
    void takeThemeColour();

    QAbstractItemView *m_view;
};

// The hint of the main window's grid, naming its menu items.
QString emptyGridHintText();

} // namespace sentrel
