#pragma once

#include "engine/MonitorView.h"

#include <QLocale>
#include <QObject>

#include <vector>

namespace sentrel {

class DesktopNotifier;
class Monitor;

// "12 Targets DOWN, 3 WARNING" ("1 Target DOWN", "3 Targets WARNING").
QString groupNotificationSummary(const std::vector<ProblemAlert> &problems);
// The Targets' descriptions, the first few of them ("web-1, web-2, …"), then the time of the first.
QString groupNotificationBody(const std::vector<ProblemAlert> &problems, const QLocale &locale);

// In group mode, the new problems of one check cycle make one desktop notification, sent
// when the cycle ends and put in the place of the previous cycle's: forty Targets going
// DOWN at once are one message, not forty that each wait to be dismissed.
class GroupNotification : public QObject
{
    Q_OBJECT
public:
    GroupNotification(DesktopNotifier &notifier, Monitor &monitor, QObject *parent = nullptr);

    void add(const ProblemAlert &problem);
    // Sends the problems added since the last time as one notification, if there are any.
    void flush();

private:
    DesktopNotifier &m_notifier;
    std::vector<ProblemAlert> m_pending;
};

} // namespace sentrel
