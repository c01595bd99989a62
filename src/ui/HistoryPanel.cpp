#include "ui/HistoryPanel.h"

#include "history/HistoryRecorder.h"
#include "ui/GridColours.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace sentrel {

namespace {

constexpr int Margin = 4;
constexpr int TickWidth = 4;
constexpr int TickGap = 1;
constexpr int StripHeight = 16;
constexpr qint64 HourMs = 3600 * 1000;

QString timeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString rttText(int us)
{
    if (us >= 10000)
        return QString::number(us / 1000) + QStringLiteral(" ms");
    return QString::number(us / 1000.0, 'f', 1) + QStringLiteral(" ms");
}

const char *const RangeNames[] = {"24 h", "7 days", "30 days"};

} // namespace

HistoryPanel::HistoryPanel(HistoryRecorder &recorder, QWidget *parent)
    : QWidget(parent)
    , m_recorder(recorder)
{
    setObjectName(QStringLiteral("history"));
    setToolTip(QStringLiteral("Uptime, outages and round-trip times of the highlighted Target"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    connect(&recorder, &HistoryRecorder::historyReady, this, [this](const TargetHistory &h) {
        if (h.uid != m_uid)
            return;
        m_history = h;
        m_answered = true;
        update();
    });
    connect(&recorder, &HistoryRecorder::batchDone, this, [this] { request(); });
    connect(&recorder, &HistoryRecorder::notice, this, [this](const QString &text) {
        m_notice =
            text.startsWith(QStringLiteral("History stopped")) || text.contains(QStringLiteral("damaged"))
            ? text
            : QString();
        update();
    });
}

void HistoryPanel::showTarget(const QString &uid)
{
    if (uid != m_uid) {
        m_uid = uid;
        m_history = TargetHistory {};
        m_answered = false;
        update();
    }
    request();
}

void HistoryPanel::request()
{
    if (!m_uid.isEmpty() && isVisible())
        m_recorder.requestHistory(m_uid);
}

void HistoryPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    request();
}

void HistoryPanel::setRttRange(RttRange range)
{
    m_range = range;
    update();
}

void HistoryPanel::mousePressEvent(QMouseEvent *event)
{
    for (size_t i = 0; i < m_rangeLinks.size(); ++i) {
        if (m_rangeLinks[i].contains(event->position().toPoint())) {
            setRttRange(static_cast<RttRange>(i));
            return;
        }
    }
    QWidget::mousePressEvent(event);
}

int HistoryPanel::paintStrip(QPainter &p, int y)
{
    const int room = std::max(1, (width() - 2 * Margin + TickGap) / (TickWidth + TickGap));
    const auto &strip = m_history.strip;
    const size_t shown = std::min(strip.size(), static_cast<size_t>(room));
    int x = width() - Margin - TickWidth;
    for (size_t i = 0; i < shown; ++i) {
        const CheckTick &tick = strip[strip.size() - 1 - i];
        p.fillRect(QRect(x, y, TickWidth, StripHeight), statusMarkColour(tick.status));
        x -= TickWidth + TickGap;
    }
    return y + StripHeight + Margin;
}

int HistoryPanel::paintChart(QPainter &p, int y, int height)
{
    const QFontMetrics fm = fontMetrics();
    int x = Margin;
    p.setPen(palette().color(QPalette::Text));
    p.drawText(x, y + fm.ascent(), QStringLiteral("Round trip"));
    x += fm.horizontalAdvance(QStringLiteral("Round trip")) + 2 * Margin;
    for (size_t i = 0; i < m_rangeLinks.size(); ++i) {
        const QString name = QString::fromLatin1(RangeNames[i]);
        m_rangeLinks[i] = QRect(x - 2, y, fm.horizontalAdvance(name) + 4, fm.height());
        QFont f = font();
        f.setBold(static_cast<size_t>(m_range) == i);
        f.setUnderline(static_cast<size_t>(m_range) != i);
        p.setFont(f);
        p.setPen(palette().color(static_cast<size_t>(m_range) == i ? QPalette::Text : QPalette::Link));
        p.drawText(x, y + fm.ascent(), name);
        x += m_rangeLinks[i].width() + Margin;
    }
    p.setFont(font());
    y += fm.height() + 2;

    const qint64 span =
        m_range == RttRange::Day ? 24 * HourMs : (m_range == RttRange::Week ? 7 : 30) * 24 * HourMs;
    const qint64 start = m_history.now - span;
    std::vector<RttPoint> points;
    if (m_range == RttRange::Day) {
        points = m_history.rttDay;
    } else {
        for (const RttPoint &pt : m_history.rttHours) {
            if (pt.time >= start)
                points.push_back(pt);
        }
    }
    const QRect area(Margin, y, width() - 2 * Margin, std::max(20, height - fm.height() - 2));
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(area.adjusted(0, 0, -1, -1));
    if (points.empty()) {
        p.setPen(palette().color(QPalette::PlaceholderText));
        p.drawText(area, Qt::AlignCenter, QStringLiteral("No echo answered in this time"));
        return area.bottom() + Margin;
    }
    // The scale follows the bulk of the points, not one freak echo: the top 1 % is clipped.
    std::vector<int> highs;
    for (const RttPoint &pt : points)
        highs.push_back(pt.max);
    std::sort(highs.begin(), highs.end());
    const int typical = highs[std::min(highs.size() - 1, highs.size() * 99 / 100)];
    const int top = std::max(typical, 1000) * 5 / 4;
    auto xOf = [&](qint64 t) {
        return area.left() + static_cast<double>(t - start) * (area.width() - 1) / static_cast<double>(span);
    };
    auto yOf = [&](int us) {
        return area.bottom() - static_cast<double>(std::min(us, top)) * (area.height() - 1) / top;
    };
    // The theme's highlight, made lighter or darker where it would not stand out from the background.
    QColor line = palette().color(QPalette::Highlight);
    const QColor base = palette().color(QPalette::Base);
    for (int i = 0; i < 4 && contrastRatio(line, base) < 3.0; ++i)
        line = base.lightness() < 128 ? line.lighter(140) : line.darker(140);
    QColor band = line;
    band.setAlpha(60);
    const qint64 step = m_range == RttRange::Day ? 0 : HourMs;
    for (const RttPoint &pt : points) {
        if (pt.max > pt.min) {
            const double x0 = xOf(pt.time);
            const double x1 = std::max(x0 + 1, xOf(pt.time + step));
            p.fillRect(QRectF(QPointF(x0, yOf(pt.max)), QPointF(x1, yOf(pt.min))), band);
        }
    }
    QPainterPath path;
    for (size_t i = 0; i < points.size(); ++i) {
        const QPointF at(xOf(points[i].time + step / 2), yOf(points[i].mean));
        // A gap of more than a few intervals (no echo answered) breaks the line.
        const qint64 gapLimit = m_range == RttRange::Day ? 10 * 60 * 1000 : 3 * HourMs;
        if (i == 0 || points[i].time - points[i - 1].time > gapLimit)
            path.moveTo(at);
        else
            path.lineTo(at);
    }
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(line, 1.5));
    p.drawPath(path);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(palette().color(QPalette::Text));
    p.drawText(area.left() + 3, area.top() + fm.ascent() + 1, rttText(top));
    return area.bottom() + Margin;
}

void HistoryPanel::paintOutages(QPainter &p, int y)
{
    const QFontMetrics fm = fontMetrics();
    p.setPen(palette().color(QPalette::Text));
    if (m_history.outages.empty()) {
        p.drawText(Margin, y + fm.ascent(), QStringLiteral("Outages (30 days): none"));
        return;
    }
    p.drawText(Margin, y + fm.ascent(),
        QStringLiteral("Outages (30 days): ") + QString::number(m_history.outages.size()));
    y += fm.height();
    for (const Outage &o : m_history.outages) {
        if (y + fm.height() > height())
            break;
        const QString line = timeText(o.start) + QStringLiteral(" \u2013 ")
            + (o.end ? timeText(*o.end) : QStringLiteral("ongoing")) + QStringLiteral(", ")
            + durationText(o.durationMs(m_history.now))
            + (o.info.isEmpty() ? QString() : QStringLiteral(": ") + o.info);
        p.fillRect(QRect(Margin, y + 3, 6, fm.height() - 6), statusMarkColour(3));
        p.drawText(
            Margin + 10, y + fm.ascent(), fm.elidedText(line, Qt::ElideRight, width() - 2 * Margin - 10));
        y += fm.height();
    }
}

void HistoryPanel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QFontMetrics fm = fontMetrics();
    p.setPen(palette().color(QPalette::Text));
    int y = Margin;
    if (!m_notice.isEmpty()) {
        p.setPen(statusMarkColour(3));
        const QRect box(Margin, y, width() - 2 * Margin, 2 * fm.height());
        p.drawText(box, Qt::TextWordWrap, m_notice);
        p.setPen(palette().color(QPalette::Text));
        y = box.bottom() + Margin;
    }
    m_rangeLinks = {};
    if (m_uid.isEmpty() || !m_answered)
        return;
    if (!m_history.checked) {
        p.drawText(rect().adjusted(Margin, y, -Margin, -Margin), Qt::AlignCenter | Qt::TextWordWrap,
            QStringLiteral("Not checked yet: no history to show."));
        return;
    }
    y = paintStrip(p, y);
    const QString uptime = QStringLiteral("Uptime  24 h: ") + percentText(m_history.day.ratio())
        + QStringLiteral("   7 days: ") + percentText(m_history.week.ratio()) + QStringLiteral("   30 days: ")
        + percentText(m_history.month.ratio());
    p.drawText(Margin, y + fm.ascent(), fm.elidedText(uptime, Qt::ElideRight, width() - 2 * Margin));
    y += fm.height() + Margin;
    const bool echoed = !m_history.rttDay.empty() || !m_history.rttHours.empty();
    if (echoed) {
        const int outageLines = std::min<int>(3, static_cast<int>(m_history.outages.size())) + 1;
        const int chartHeight =
            std::clamp(height() - y - outageLines * fm.height() - Margin, 3 * fm.height(), 160);
        y = paintChart(p, y, chartHeight);
    }
    paintOutages(p, y);
}

} // namespace sentrel
