#include "ui/DesktopNotifier.h"

#include "engine/Target.h"
#include "ui/AlertWindow.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace sentrel {

QString notificationSummary(const ProblemAlert &problem)
{
    return problem.desc
        + (problem.status == TargetStatus::Down ? QStringLiteral(": DOWN") : QStringLiteral(": WARNING"));
}

QString notificationBody(const ProblemAlert &problem, const QLocale &locale)
{
    return problem.info + QLatin1Char('\n') + AlertWindow::timeText(problem.raisedAt, locale);
}

FreedesktopNotifier::FreedesktopNotifier(Fallback fallback)
    : m_fallback(std::move(fallback))
{ }

void FreedesktopNotifier::notify(const QString &summary, const QString &body, bool critical)
{
    send(summary, body, critical, false);
}

void FreedesktopNotifier::notifyReplacing(const QString &summary, const QString &body, bool critical)
{
    send(summary, body, critical, true);
}

void FreedesktopNotifier::send(const QString &summary, const QString &body, bool critical, bool replacing)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (m_fallback)
            m_fallback(summary, body, critical);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(critical ? 2 : 1));
    // The body may carry markup for this service, and its text comes from the monitored host:
    // escaped here, and only here, so that it shows as text; the fallback gets it plain.
    call << QStringLiteral("Sentrel") << (replacing ? m_replacesId : 0u) << QStringLiteral("sentrel")
         << summary << body.toHtmlEscaped() << QStringList() << hints << -1;
    // Never waited for: the cycle goes on while the service answers.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), &m_calls);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &m_calls,
        [this, watcher, summary, body, critical, replacing] {
            if (watcher->isError()) {
                if (m_fallback)
                    m_fallback(summary, body, critical);
            } else if (replacing) {
                // A reply of another type is no id to replace.
                const QDBusPendingReply<uint> reply = *watcher;
                if (!reply.isError())
                    m_replacesId = reply.value();
            }
            watcher->deleteLater();
        });
}

} // namespace sentrel
