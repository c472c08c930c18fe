#include "benchsupport/procstat.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

namespace fis::bench {

namespace {

QByteArray procFile(qint64 pid, const char *name)
{
    const QString who = pid == 0 ? QStringLiteral("self") : QString::number(pid);
    QFile file(QStringLiteral("/proc/%1/%2").arg(who, QLatin1StringView(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

qint64 statusKb(qint64 pid, const char *key)
{
    const QByteArray wanted = QByteArray(key) + ':';
    for (const QByteArray &line : procFile(pid, "status").split('\n')) {
        if (!line.startsWith(wanted))
            continue;
        const QList<QByteArray> parts = line.mid(wanted.size()).simplified().split(' ');
        bool ok = false;
        const qint64 value = parts.value(0).toLongLong(&ok);
        return ok && parts.value(1) == "kB" ? value : -1;
    }
    return -1;
}

qint64 cpuTicks(qint64 pid)
{
    const QByteArray text = procFile(pid, "stat");
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return -1;
    // Fields after the command name, which may hold blanks: state is the first, utime the 12th.
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : -1;
}

} // namespace fis::bench
