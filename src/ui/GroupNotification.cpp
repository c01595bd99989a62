#include "ui/GroupNotification.h"

#include "engine/Monitor.h"
#include "engine/Target.h"
#include "ui/AlertWindow.h"
#include "ui/DesktopNotifier.h"

#include <QStringList>

#include <algorithm>

namespace sentrel {

namespace {

// More names than this do not fit a notification bubble.
constexpr size_t NamesShown = 10;

} // namespace

QString groupNotificationSummary(const std::vector<ProblemAlert> &problems)
{
    const auto down = std::count_if(problems.begin(), problems.end(),
        [](const ProblemAlert &p) { return p.status == TargetStatus::Down; });
    const auto warning = static_cast<qsizetype>(problems.size()) - down;
    const auto targets = [](qsizetype n) {
        return QString::number(n) + (n == 1 ? QStringLiteral(" Target ") : QStringLiteral(" Targets "));
    };
    if (down == 0)
        return targets(warning) + QStringLiteral("WARNING");
    QString text = targets(down) + QStringLiteral("DOWN");
    if (warning > 0)
        text += QStringLiteral(", %1 WARNING").arg(warning);
    return text;
}

QString groupNotificationBody(const std::vector<ProblemAlert> &problems, const QLocale &locale)
{
    if (problems.empty())
        return {};
    QStringList names;
    for (size_t i = 0; i < std::min(problems.size(), NamesShown); ++i)
        names << problems[i].desc;
    if (problems.size() > NamesShown)
        names << QStringLiteral("\u2026");
    return names.join(QStringLiteral(", ")) + QLatin1Char('\n')
        + AlertWindow::timeText(problems.front().raisedAt, locale);
}

GroupNotification::GroupNotification(DesktopNotifier &notifier, Monitor &monitor, QObject *parent)
    : QObject(parent)
    , m_notifier(notifier)
{
    connect(&monitor, &Monitor::cycleFinished, this, &GroupNotification::flush);
}

void GroupNotification::add(const ProblemAlert &problem)
{
    m_pending.push_back(problem);
}

void GroupNotification::flush()
{
    if (m_pending.empty())
        return;
    const bool critical = std::any_of(m_pending.begin(), m_pending.end(),
        [](const ProblemAlert &p) { return p.status == TargetStatus::Down; });
    m_notifier.notifyReplacing(
        groupNotificationSummary(m_pending), groupNotificationBody(m_pending, QLocale::system()), critical);
    m_pending.clear();
}

} // namespace sentrel
