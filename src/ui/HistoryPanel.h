#pragma once

#include "history/HistoryStore.h"

#include <QRect>
#include <QWidget>

#include <array>

namespace sentrel {

class HistoryRecorder;

// The highlighted Target's past beside its details: a heartbeat strip of its last checks (newest
// on the right, in the status colours), its uptime over 24 hours, 7 and 30 days, a chart of its
// echo round-trip times over 24 hours, 7 or 30 days, and its outages of the last 30 days.
// Painted from one answer of the recorder, so showing it never touches the disk.
class HistoryPanel : public QWidget
{
    Q_OBJECT
public:
    enum class RttRange { Day, Week, Month };

    explicit HistoryPanel(HistoryRecorder &recorder, QWidget *parent = nullptr);

    // Shows the history of the Target with this identity (none for empty), asking the recorder
    // for it now and after every batch it writes.
    void showTarget(const QString &uid);
    const QString &uid() const { return m_uid; }
    // What is shown now; checked is false until the first answer arrives.
    const TargetHistory &shown() const { return m_history; }

    RttRange rttRange() const { return m_range; }
    void setRttRange(RttRange range);

    QSize sizeHint() const override { return {360, 220}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void request();
    int paintStrip(QPainter &p, int y);
    int paintChart(QPainter &p, int y, int height);
    void paintOutages(QPainter &p, int y);

    HistoryRecorder &m_recorder;
    QString m_uid;
    TargetHistory m_history;
    bool m_answered = false;
    QString m_notice;
    RttRange m_range = RttRange::Day;
    std::array<QRect, 3> m_rangeLinks;
};

} // namespace sentrel
