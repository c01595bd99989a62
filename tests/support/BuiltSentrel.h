#pragma once

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace sentrel::test {

// The lines of a log file the built program wrote (CR LF ends); none while it cannot be read.
inline QStringList logLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Starts the built program offscreen with its settings and data under the given folders.
inline void startBuiltSentrel(
    QProcess &sentrel, const QString &binary, const QString &config, const QString &data)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    env.insert(QStringLiteral("XDG_DATA_HOME"), data);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    sentrel.setProcessEnvironment(env);
    sentrel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sentrel.start(binary, {});
}

} // namespace sentrel::test
