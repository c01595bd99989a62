#pragma once

#include <QCheckBox>

namespace sentrel {

// A check box whose caption breaks into lines within the box's width, as the
// definition dialog's two-line caption needs; otherwise a plain QCheckBox.
class WrappedCheckBox : public QCheckBox
{
    Q_OBJECT
public:
    explicit WrappedCheckBox(const QString &text, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &pos) const override;

private:
    QRect textRect() const;
};

} // namespace sentrel
