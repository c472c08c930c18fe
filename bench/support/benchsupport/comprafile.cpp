#include "benchsupport/comprafile.h"

#include <QFile>
#include <QFileInfo>

namespace fis::bench {

namespace {

constexpr qsizetype kRecordLength = 126;

int rankOf(const QByteArray &type)
{
    static const QList<QByteArray> order{"10", "11", "50", "54", "75", "90"};
    return int(order.indexOf(type));
}

// The pairs "type, count" of a record 90 from position 31 on, until the blanks.
QMap<QByteArray, qint64> declaredCounts(const QByteArray &line, Check &check, const QString &at)
{
    QMap<QByteArray, qint64> pairs;
    for (qsizetype pos = 30; pos + 10 <= kRecordLength - 1; pos += 10) {
        const QByteArray pair = line.mid(pos, 10);
        if (pair.trimmed().isEmpty())
            break;
        bool ok = false;
        const qint64 count = pair.mid(2).toLongLong(&ok);
        if (!check.require(ok, QStringLiteral("%1: record 90 pair \"%2\" is no count")
                                   .arg(at, QString::fromLatin1(pair))))
            break;
        pairs.insert(pair.left(2), count);
    }
    return pairs;
}

struct Reader
{
    CompraFile &file;
    QString name;
    int lastRank = -1;
    qint64 records90 = 0;
    QMap<QByteArray, qint64> declared;
    QByteArray declaredNinetyCount;

    void line(QByteArray text)
    {
        ++file.lines;
        const QString at = QStringLiteral("%1 line %2").arg(name).arg(file.lines);
        if (!file.check.require(text.endsWith("\r\n"), at + QStringLiteral(": no CR LF")))
            return;
        text.chop(2);
        if (!file.check.require(text.size() == kRecordLength,
                                QStringLiteral("%1: %2 characters").arg(at).arg(text.size())))
            return;
        const QByteArray type = text.left(2);
        const int rank = rankOf(type);
        file.check.require(
            rank >= 0 && rank >= lastRank && (rank > 1 || rank > lastRank),
            QStringLiteral("%1: record %2 out of order").arg(at, QString::fromLatin1(type)));
        lastRank = std::max(lastRank, rank);
        ++file.records[type];
        if (type == "10" && file.registration.isEmpty()) {
            file.registration = QString::fromLatin1(text.mid(16, 14)).trimmed();
            file.start = QDate::fromString(QString::fromLatin1(text.mid(107, 8)), u"yyyyMMdd");
            file.end = QDate::fromString(QString::fromLatin1(text.mid(115, 8)), u"yyyyMMdd");
        }
        if (type == "90") {
            ++records90;
            declared.insert(declaredCounts(text, file.check, at));
            declaredNinetyCount = text.right(1);
        }
    }

    // The counts the records 90 declare against the records read.
    void finish(qint64 linesBefore, const QMap<QByteArray, qint64> &before)
    {
        const qint64 lines = file.lines - linesBefore;
        file.check.require(lines > 0, name + QStringLiteral(": empty"));
        file.check.require(records90 > 0, name + QStringLiteral(": no record 90"));
        for (const QByteArray type : {"10", "11"})
            file.check.require(
                file.records.value(type) - before.value(type) == 1,
                QStringLiteral("%1: not one record %2").arg(name, QString::fromLatin1(type)));
        for (const QByteArray type : {"50", "54", "75"}) {
            const qint64 found = file.records.value(type) - before.value(type);
            if (found > 0 || declared.contains(type))
                file.check.require(declared.value(type, -1) == found,
                                   QStringLiteral("%1: records 90 declare %2 records %3, the file "
                                                  "holds %4")
                                       .arg(name)
                                       .arg(declared.value(type, -1))
                                       .arg(QString::fromLatin1(type))
                                       .arg(found));
        }
        file.check.require(declared.value("99", -1) == lines,
                           QStringLiteral("%1: records 90 declare %2 lines, the file holds %3")
                               .arg(name)
                               .arg(declared.value("99", -1))
                               .arg(lines));
        file.check.require(declaredNinetyCount == QByteArray::number(records90),
                           QStringLiteral("%1: records 90 declare %2 of them, the file holds %3")
                               .arg(name, QString::fromLatin1(declaredNinetyCount))
                               .arg(records90));
    }
};

void readInto(CompraFile &file, const QString &path)
{
    QFile in(path);
    const QString name = QFileInfo(path).fileName();
    if (!file.check.require(in.open(QIODevice::ReadOnly), name + QStringLiteral(": cannot open")))
        return;
    const qint64 linesBefore = file.lines;
    const QMap<QByteArray, qint64> before = file.records;
    Reader reader{file, name, -1, 0, {}, {}};
    while (!in.atEnd())
        reader.line(in.readLine());
    reader.finish(linesBefore, before);
}

} // namespace

CompraFile readCompraFile(const QString &path)
{
    return readCompraFiles({path});
}

CompraFile readCompraFiles(const QStringList &paths)
{
    CompraFile file;
    file.check.require(!paths.isEmpty(), QStringLiteral("no file was written"));
    for (const QString &path : paths)
        readInto(file, path);
    return file;
}

} // namespace fis::bench
