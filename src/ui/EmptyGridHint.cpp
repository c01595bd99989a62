#include "ui/EmptyGridHint.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QScrollBar>

namespace sentrel {

QString emptyGridHintText()
{
    return QStringLiteral("No systems monitored yet. Systems \u2192 Add (Ctrl+A) adds one; "
                          "Systems \u2192 Import settings from file reads an export file.");
}

EmptyGridHint::EmptyGridHint(QAbstractItemView *view, const QString &text)
    : QLabel(text, view->viewport())
    , m_view(view)
{
    setObjectName(QStringLiteral("lblempty"));
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setAlignment(Qt::AlignCenter);
    setMargin(8);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    takeThemeColour();
    view->viewport()->installEventFilter(this);
    // Scrolling moves the viewport's children along; the hint stays where it is.
    for (const QScrollBar *bar : {view->horizontalScrollBar(), view->verticalScrollBar()})
        connect(bar, &QScrollBar::valueChanged, this, &EmptyGridHint::follow);
    if (QAbstractItemModel *model = view->model()) {
        for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
            connect(model, signal, this, &EmptyGridHint::follow);
        connect(model, &QAbstractItemModel::modelReset, this, &EmptyGridHint::follow);
        connect(model, &QAbstractItemModel::layoutChanged, this, &EmptyGridHint::follow);
    }
    follow();
}

bool EmptyGridHint::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view->viewport() && event->type() == QEvent::Resize)
        follow();
    if (watched == m_view->viewport() && event->type() == QEvent::PaletteChange)
        takeThemeColour();
    return QLabel::eventFilter(watched, event);
}

void EmptyGridHint::takeThemeColour()
{
    // The placeholder colour is the theme's own for "nothing here yet", light and dark alike.
    QPalette p = m_view->viewport()->palette();
    p.setColor(QPalette::WindowText, p.color(QPalette::PlaceholderText));
    setPalette(p);
}

void EmptyGridHint::follow()
{
    const bool empty = !m_view->model() || m_view->model()->rowCount() == 0;
    setGeometry(m_view->viewport()->rect());
    setVisible(empty);
}

} // namespace sentrel
