#pragma once

#include "engine/MonitorView.h"

#include <QLocale>
#include <QObject>
#include <QString>

#include <functional>

namespace sentrel {

// Sends desktop notifications; tests stand in a recorder.
class DesktopNotifier
{
public:
    virtual ~DesktopNotifier() = default;
    // critical: a DOWN problem, which the desktop may keep on screen until dismissed.
    virtual void notify(const QString &summary, const QString &body, bool critical) = 0;
    // As notify, but takes the place of this notifier's previous replacing message where the
    // desktop allows it, so that a run of them stays one message on the screen.
    virtual void notifyReplacing(const QString &summary, const QString &body, bool critical)
    {
        notify(summary, body, critical);
    }
};

// "Mail server: DOWN" or "Mail server: WARNING".
QString notificationSummary(const ProblemAlert &problem);
// The information line, then the date and time as the alert window shows them; plain text.
QString notificationBody(const ProblemAlert &problem, const QLocale &locale);

// The freedesktop notification service on the session bus, given the body escaped for its
// markup. Where there is no session bus, or the call fails, the plain message goes to the
// fallback (the tray icon's message), if there is one; otherwise it is dropped without a word.
class FreedesktopNotifier : public DesktopNotifier
{
public:
    using Fallback = std::function<void(const QString &summary, const QString &body, bool critical)>;

    explicit FreedesktopNotifier(Fallback fallback = {});
    void notify(const QString &summary, const QString &body, bool critical) override;
    void notifyReplacing(const QString &summary, const QString &body, bool critical) override;

private:
    void send(const QString &summary, const QString &body, bool critical, bool replacing);

    Fallback m_fallback;
    // The service's id of the last replacing message; 0 before the first.
    uint m_replacesId = 0;
    // Parent of the pending calls: a reply that comes after this notifier is gone is dropped.
    QObject m_calls;
};

} // namespace sentrel
