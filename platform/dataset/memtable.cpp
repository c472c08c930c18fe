#include "dataset/memtable.h"

#include "base/automationdate.h"
#include "dataset/datapacket.h"

#include <QHash>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace fis {

namespace {

// A float display format of the "#,##0.00" family: digits, one decimal point, grouping commas.
struct NumberFormat
{
    bool valid = false;
    bool grouping = false;
    int minIntDigits = 1;
    int minDecimals = 0;
    int maxDecimals = 0;
};

NumberFormat parseNumberFormat(const QString &format)
{
    NumberFormat nf;
    const QString section = format.section(QLatin1Char(';'), 0, 0);
    if (section.isEmpty())
        return nf;
    bool afterPoint = false;
    int intZeros = 0;
    for (const QChar c : section) {
        if (c == QLatin1Char('.')) {
            if (afterPoint)
                return nf;
            afterPoint = true;
        } else if (c == QLatin1Char(',')) {
            if (afterPoint)
                return nf;
            nf.grouping = true;
        } else if (c == QLatin1Char('0')) {
            if (afterPoint) {
                if (nf.maxDecimals != nf.minDecimals) // "0" after "#" among decimals
                    return nf;
                ++nf.minDecimals;
                ++nf.maxDecimals;
            } else {
                ++intZeros;
            }
        } else if (c == QLatin1Char('#')) {
            if (afterPoint)
                ++nf.maxDecimals;
        } else {
            return nf;
        }
    }
    nf.minIntDigits = intZeros;
    nf.valid = true;
    return nf;
}

QString formatNumber(double value, const NumberFormat &nf, const QLocale &locale)
{
    QLocale loc = locale;
    loc.setNumberOptions(nf.grouping ? QLocale::DefaultNumberOptions : QLocale::OmitGroupSeparator);
    // A value that rounds to zero shows no sign.
    if (std::fabs(value) * std::pow(10.0, nf.maxDecimals) < 0.5)
        value = 0;
    QString text = loc.toString(value, 'f', nf.maxDecimals);
    const QString point = loc.decimalPoint();
    const QString zero = loc.zeroDigit();
    if (nf.maxDecimals > nf.minDecimals) {
        int drop = 0;
        while (drop < nf.maxDecimals - nf.minDecimals &&
               QStringView(text).chopped(drop).endsWith(zero))
            drop += int(zero.size());
        text.chop(drop);
        if (text.endsWith(point) && nf.minDecimals == 0)
            text.chop(point.size());
    }
    const QString minus = loc.negativeSign();
    const qsizetype digitsAt = text.startsWith(minus) ? minus.size() : 0;
    qsizetype intEnd = text.indexOf(point);
    if (intEnd < 0)
        intEnd = text.size();
    if (nf.minIntDigits == 0 && intEnd - digitsAt == zero.size() &&
        QStringView(text).mid(digitsAt, zero.size()) == zero) {
        text.remove(digitsAt, zero.size());
    } else if (!nf.grouping) {
        for (qsizetype len = intEnd - digitsAt; len < nf.minIntDigits; ++len)
            text.insert(digitsAt, zero);
    }
    return text;
}

QString formatPlainNumber(double value, const QLocale &locale)
{
    QLocale loc = locale;
    loc.setNumberOptions(QLocale::OmitGroupSeparator);
    return loc.toString(value, 'f', QLocale::FloatingPointShortest);
}

QString formatDateTime(const QDateTime &value, const QString &format, const QLocale &locale)
{
    if (!format.isEmpty())
        return locale.toString(value, format);
    QString text = locale.toString(value.date(), QLocale::ShortFormat);
    const QTime time = value.time();
    if (time != QTime(0, 0)) {
        QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
        if (time.second() != 0 && !timeFormat.contains(QLatin1Char('s')))
            timeFormat.replace(QLatin1String("mm"), QLatin1String("mm:ss"));
        text += QLatin1Char(' ') + locale.toString(time, timeFormat);
    }
    return text;
}

int compareCells(FieldType type, const QVariant &a, const QVariant &b)
{
    const bool aNull = !a.isValid();
    const bool bNull = !b.isValid();
    if (aNull || bNull)
        return aNull == bNull ? 0 : (aNull ? -1 : 1);
    switch (type) {
    case FieldType::String:
    case FieldType::FixedString:
        return QString::compare(*static_cast<const QString *>(a.constData()),
                                *static_cast<const QString *>(b.constData()));
    case FieldType::Float: {
        const double x = *static_cast<const double *>(a.constData());
        const double y = *static_cast<const double *>(b.constData());
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    case FieldType::DateTime: {
        const QDateTime &x = *static_cast<const QDateTime *>(a.constData());
        const QDateTime &y = *static_cast<const QDateTime *>(b.constData());
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    }
    return 0;
}

} // namespace

struct MemTable::Private
{
    MemTable *q = nullptr;
    QString name;
    QList<FieldDef> fields;
    QHash<QString, int> fieldByName; // upper-case name -> index
    std::vector<NumberFormat> numberFormats;
    QHash<QString, GetTextHandler> handlers; // upper-case name -> handler
    std::vector<const GetTextHandler *> handlerAt;
    bool fieldsFromPacket = false;

    bool open = false;
    State state = State::Inactive;
    // Packed: about the bytes of the packet row each, where QVariant cells took several times
    // that; a value is made when it is read.
    std::vector<PackedRow> rows;
    QByteArray packet;     // the last packet loaded, whose bytes most rows view
    bool pristine = false; // the rows are still exactly what `packet` gave
    int current = -1;
    bool bof = true;
    bool eof = true;
    // The edited or inserted row. An edit reads the values it does not set from the row as it
    // was, so that editing one value of a row neither reads nor rewrites the others.
    DataRow buffer;
    std::vector<bool> bufferSet; // the values the buffer holds itself
    PackedRow editOriginal;
    int insertPos = 0;

    QString indexNames;
    std::vector<int> indexFields;
    int disableCount = 0;

    bool quiet() const { return disableCount > 0; }

    QString tableLabel() const { return name.isEmpty() ? MemTable::tr("A tabela") : name; }

    [[noreturn]] void fail(const QString &what) const
    {
        throw DataSetError(MemTable::tr("%1: %2").arg(tableLabel(), what));
    }

    void checkOpen() const
    {
        if (!open)
            fail(MemTable::tr("a tabela está fechada."));
    }

    void checkClosed() const
    {
        if (open)
            fail(MemTable::tr("os campos não podem ser alterados com a tabela aberta."));
    }

    void checkField(int index) const
    {
        if (index < 0 || index >= fields.size())
            fail(MemTable::tr("não existe o campo de número %1.").arg(index));
    }

    void checkRow(int row) const
    {
        if (!open || row < 0 || row >= int(rows.size()))
            fail(MemTable::tr("não existe a linha %1.").arg(row));
    }

    bool editing() const { return state == State::Edit || state == State::Insert; }

    // A load's end: no pending edit, the cursor on the first row.
    void restartBrowsing()
    {
        buffer.clear();
        editOriginal = PackedRow();
        state = State::Browse;
        current = rows.empty() ? -1 : 0;
        bof = true;
        eof = rows.empty();
    }

    QVariant cell(int row, int field) const { return packedCell(rows[size_t(row)], fields, field); }

    DataRow unpacked(int row) const { return unpackRow(rows[size_t(row)], fields); }

    // The rows go before the packet whose bytes they view.
    void dropRows()
    {
        std::vector<PackedRow>().swap(rows);
        editOriginal = PackedRow();
        packet = QByteArray();
        pristine = false;
    }

    void rebuildFieldLookups()
    {
        fieldByName.clear();
        numberFormats.clear();
        for (int i = 0; i < fields.size(); ++i) {
            fieldByName.insert(fields.at(i).name.toUpper(), i);
            numberFormats.push_back(fields.at(i).type == FieldType::Float
                                        ? parseNumberFormat(fields.at(i).displayFormat)
                                        : NumberFormat());
        }
        rebuildHandlers();
    }

    void rebuildHandlers()
    {
        handlerAt.assign(size_t(fields.size()), nullptr);
        for (int i = 0; i < fields.size(); ++i) {
            const auto it = handlers.constFind(fields.at(i).name.toUpper());
            if (it != handlers.constEnd())
                handlerAt[size_t(i)] = &it.value();
        }
    }

    // Declarations are checked as a whole before any is taken.
    void replaceFields(const QList<FieldDef> &newFields)
    {
        QHash<QString, bool> seen;
        for (const FieldDef &field : newFields) {
            validateFieldDef(field, name);
            const QString key = field.name.toUpper();
            if (seen.contains(key))
                fail(MemTable::tr("o campo %1 foi declarado duas vezes.").arg(field.name));
            seen.insert(key, true);
        }
        resetWith([&] {
            fields = newFields;
            fieldsFromPacket = false;
            rebuildFieldLookups();
        });
    }

    std::vector<int> resolveIndex(const QString &names, const QList<FieldDef> &over) const
    {
        std::vector<int> result;
        const QStringList parts = names.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (const QString &part : parts) {
            const QString wanted = part.trimmed();
            int found = -1;
            for (int i = 0; i < over.size(); ++i) {
                if (over.at(i).name.compare(wanted, Qt::CaseInsensitive) == 0) {
                    found = i;
                    break;
                }
            }
            if (found < 0)
                fail(MemTable::tr("o campo de índice %1 não existe.").arg(wanted));
            result.push_back(found);
        }
        return result;
    }

    int compareRows(const DataRow &a, const DataRow &b, const std::vector<int> &keys,
                    const QList<FieldDef> &over) const
    {
        for (const int k : keys) {
            const int c = compareCells(over.at(k).type, a.at(k), b.at(k));
            if (c != 0)
                return c;
        }
        return 0;
    }

    int compareRows(const DataRow &a, const DataRow &b) const
    {
        return compareRows(a, b, indexFields, fields);
    }

    // Where a row goes among `count` ordered rows: after every row with an equal key, so that
    // rows of equal keys keep the order in which they were posted. rowAt maps 0..count-1.
    template<typename RowAt> int upperBound(const DataRow &row, int count, RowAt rowAt) const
    {
        int lo = 0, hi = count;
        while (lo < hi) {
            const int mid = lo + (hi - lo) / 2;
            if (compareRows(row, rowAt(mid)) < 0)
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo;
    }

    // The key values are read out of the packed rows once, not at every comparison.
    static void stableSort(std::vector<PackedRow> *sorted, const std::vector<int> &keys,
                           const QList<FieldDef> &over, int *follow)
    {
        if (keys.empty() || sorted->size() < 2)
            return;
        std::vector<DataRow> keyValues(sorted->size());
        for (size_t i = 0; i < sorted->size(); ++i) {
            keyValues[i].reserve(qsizetype(keys.size()));
            for (const int k : keys)
                keyValues[i].append(packedCell((*sorted)[i], over, k));
        }
        std::vector<int> order(sorted->size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            const DataRow &x = keyValues[size_t(a)], &y = keyValues[size_t(b)];
            for (size_t k = 0; k < keys.size(); ++k) {
                const int c =
                    compareCells(over.at(keys[k]).type, x.at(qsizetype(k)), y.at(qsizetype(k)));
                if (c != 0)
                    return c < 0;
            }
            return false;
        });
        std::vector<PackedRow> result;
        result.reserve(sorted->size());
        for (size_t i = 0; i < order.size(); ++i) {
            if (follow && order[i] == *follow) {
                *follow = int(i);
                follow = nullptr;
            }
            result.push_back(std::move((*sorted)[size_t(order[i])]));
        }
        sorted->swap(result);
    }

    template<typename Change> void resetWith(Change change)
    {
        const State before = state;
        if (!quiet())
            emit q->aboutToReset();
        change();
        if (!quiet()) {
            emit q->tableReset();
            if (state != before)
                emit q->stateChanged(state);
        }
    }

    void setState(State s)
    {
        if (state == s)
            return;
        state = s;
        if (!quiet())
            emit q->stateChanged(s);
    }

    // Reports the cursor after an operation: a new row index, or the same index whose record
    // changed as a whole.
    void reportCursor(int before)
    {
        if (quiet())
            return;
        if (current != before)
            emit q->currentRowChanged(current);
        else
            emit q->dataChanged(-1);
    }

    void moveCursor(int row)
    {
        if (row == current)
            return;
        current = row;
        if (!quiet())
            emit q->currentRowChanged(row);
    }

    // Cursor moves commit a pending edit first.
    void checkBrowse()
    {
        if (editing())
            q->post();
    }

    void startEditBuffer(State s, int pos)
    {
        buffer = DataRow(fields.size());
        bufferSet.assign(size_t(fields.size()), true);
        editOriginal = PackedRow();
        insertPos = pos;
        setState(s);
        if (!quiet())
            emit q->dataChanged(-1);
    }

    QVariant bufferValue(int field) const
    {
        if (bufferSet[size_t(field)])
            return buffer.at(field);
        return packedCell(editOriginal, fields, field);
    }

    QVariant storedOrBuffer(int row, int field) const
    {
        if (state == State::Edit && row == current)
            return bufferValue(field);
        return cell(row, field);
    }

    QString formatValue(int fieldIndex, const QVariant &value) const
    {
        if (!value.isValid())
            return {};
        const FieldDef &field = fields.at(fieldIndex);
        switch (field.type) {
        case FieldType::String:
        case FieldType::FixedString:
            return *static_cast<const QString *>(value.constData());
        case FieldType::Float: {
            const double number = *static_cast<const double *>(value.constData());
            const NumberFormat &nf = numberFormats[size_t(fieldIndex)];
            return nf.valid ? formatNumber(number, nf, QLocale())
                            : formatPlainNumber(number, QLocale());
        }
        case FieldType::DateTime:
            return formatDateTime(*static_cast<const QDateTime *>(value.constData()),
                                  field.displayFormat, QLocale());
        }
        return {};
    }

    bool matches(int fieldIndex, const QVariant &cell, const QVariant &key,
                 MemTable::LocateOptions options) const
    {
        const FieldDef &field = fields.at(fieldIndex);
        if (!key.isValid() || (key.isNull() && !field.isText()))
            return !cell.isValid();
        switch (field.type) {
        case FieldType::String:
        case FieldType::FixedString: {
            const QString text =
                cell.isValid() ? *static_cast<const QString *>(cell.constData()) : QString();
            const QString wanted = key.toString();
            const Qt::CaseSensitivity cs =
                options.testFlag(CaseInsensitive) ? Qt::CaseInsensitive : Qt::CaseSensitive;
            if (options.testFlag(PartialKey))
                return text.startsWith(wanted, cs);
            return text.compare(wanted, cs) == 0;
        }
        case FieldType::Float:
            return cell.isValid() && *static_cast<const double *>(cell.constData()) ==
                                         normalizedFieldValue(field, key, name).toDouble();
        case FieldType::DateTime:
            return cell.isValid() && *static_cast<const QDateTime *>(cell.constData()) ==
                                         normalizedFieldValue(field, key, name).toDateTime();
        }
        return false;
    }

    void checkRequiredValues() const
    {
        for (int i = 0; i < fields.size(); ++i) {
            const FieldDef &f = fields.at(i);
            if (!f.required)
                continue;
            const QVariant v = bufferValue(i);
            if (!v.isValid() ||
                (f.isText() && static_cast<const QString *>(v.constData())->isEmpty()))
                fail(MemTable::tr("o campo %1 deve ter um valor.").arg(f.displayLabel()));
        }
    }

    // post() of an inserted row: it goes to its place in the index, or where it was inserted.
    void postInsert(bool indexed, bool quiet)
    {
        const int count = int(rows.size());
        const int pos = indexed ? upperBound(buffer, count, [&](int i) { return unpacked(i); })
                                : qBound(0, insertPos, count);
        PackedRow packed = packRow(buffer, fields, name);
        if (!quiet)
            emit q->rowAboutToBeInserted(pos);
        rows.insert(rows.begin() + pos, std::move(packed));
        pristine = false;
        buffer = DataRow();
        state = State::Browse;
        current = pos;
        bof = eof = false;
        if (!quiet) {
            emit q->rowInserted(pos);
            emit q->stateChanged(State::Browse);
        }
    }

    // post() of an edited row; an edited key may move the row within the index.
    void postEdit(bool indexed, bool quiet)
    {
        const int row = current;
        const int count = int(rows.size());
        rows[size_t(row)] = packEditedRow(editOriginal, buffer, bufferSet, fields);
        editOriginal = PackedRow();
        pristine = false;
        buffer = DataRow();
        state = State::Browse;
        if (!quiet)
            emit q->rowChanged(row);
        if (indexed)
            moveIntoOrder(row, count, quiet);
        if (!quiet)
            emit q->stateChanged(State::Browse);
    }

    void moveIntoOrder(int row, int count, bool quiet)
    {
        const DataRow posted = unpacked(row);
        const bool inOrder = (row == 0 || compareRows(unpacked(row - 1), posted) <= 0) &&
                             (row == count - 1 || compareRows(posted, unpacked(row + 1)) <= 0);
        if (inOrder)
            return;
        const int to =
            upperBound(posted, count - 1, [&](int i) { return unpacked(i < row ? i : i + 1); });
        if (!quiet)
            emit q->rowAboutToBeMoved(row, to);
        const auto first = rows.begin();
        if (to > row)
            std::rotate(first + row, first + row + 1, first + to + 1);
        else
            std::rotate(first + to, first + row, first + row + 1);
        current = to;
        if (!quiet)
            emit q->rowMoved(row, to);
    }
};

MemTable::MemTable(const QString &name, QObject *parent)
    : QObject(parent)
    , d(new Private)
{
    d->q = this;
    d->name = name;
    if (objectName().isEmpty())
        setObjectName(name);
}

MemTable::~MemTable()
{
    delete d;
}

QString MemTable::name() const
{
    return d->name;
}

void MemTable::addField(const FieldDef &field)
{
    d->checkClosed();
    QList<FieldDef> fields = d->fields;
    fields.append(field);
    d->replaceFields(fields);
}

void MemTable::setFields(const QList<FieldDef> &fields)
{
    d->checkClosed();
    d->replaceFields(fields);
}

void MemTable::clearFields()
{
    d->checkClosed();
    d->replaceFields({});
}

const QList<FieldDef> &MemTable::fields() const
{
    return d->fields;
}

int MemTable::fieldCount() const
{
    return int(d->fields.size());
}

int MemTable::fieldIndex(const QString &fieldName) const
{
    return d->fieldByName.value(fieldName.toUpper(), -1);
}

int MemTable::indexOfField(const QString &fieldName) const
{
    const int index = fieldIndex(fieldName);
    if (index < 0)
        d->fail(tr("não existe o campo %1.").arg(fieldName));
    return index;
}

const FieldDef &MemTable::field(int index) const
{
    d->checkField(index);
    return d->fields.at(index);
}

const FieldDef &MemTable::field(const QString &fieldName) const
{
    return d->fields.at(indexOfField(fieldName));
}

void MemTable::setGetTextHandler(const QString &fieldName, GetTextHandler handler)
{
    if (handler)
        d->handlers.insert(fieldName.toUpper(), std::move(handler));
    else
        d->handlers.remove(fieldName.toUpper());
    d->rebuildHandlers();
}

bool MemTable::showsStoredText(int fieldIndex) const
{
    d->checkField(fieldIndex);
    return d->fields.at(fieldIndex).isText() && !d->handlerAt[size_t(fieldIndex)];
}

void MemTable::createDataSet()
{
    if (d->fields.isEmpty())
        d->fail(tr("uma tabela sem campos não pode ser criada."));
    std::vector<int> index = d->resolveIndex(d->indexNames, d->fields);
    d->resetWith([&] {
        d->dropRows();
        d->buffer.clear();
        d->indexFields = std::move(index);
        d->open = true;
        d->state = State::Browse;
        d->current = -1;
        d->bof = d->eof = true;
    });
}

void MemTable::close()
{
    if (!d->open)
        return;
    d->resetWith([&] {
        d->dropRows();
        d->buffer.clear();
        d->open = false;
        d->state = State::Inactive;
        d->current = -1;
        d->bof = d->eof = true;
    });
}

bool MemTable::isOpen() const
{
    return d->open;
}

bool MemTable::isEmpty() const
{
    return !d->open || d->rows.empty();
}

MemTable::State MemTable::state() const
{
    return d->state;
}

void MemTable::setIndexFieldNames(const QString &names)
{
    if (!d->open) {
        d->indexNames = names;
        return;
    }
    std::vector<int> index = d->resolveIndex(names, d->fields);
    d->checkBrowse();
    d->resetWith([&] {
        d->indexNames = names;
        d->indexFields = std::move(index);
        Private::stableSort(&d->rows, d->indexFields, d->fields, &d->current);
        d->pristine = false;
    });
}

QString MemTable::indexFieldNames() const
{
    return d->indexNames;
}

int MemTable::recordCount() const
{
    return d->open ? int(d->rows.size()) : 0;
}

int MemTable::currentRow() const
{
    return d->open ? d->current : -1;
}

int MemTable::recNo() const
{
    return currentRow() + 1;
}

void MemTable::first()
{
    d->checkOpen();
    d->checkBrowse();
    const bool empty = d->rows.empty();
    d->moveCursor(empty ? -1 : 0);
    d->bof = true;
    d->eof = empty;
}

void MemTable::last()
{
    d->checkOpen();
    d->checkBrowse();
    const bool empty = d->rows.empty();
    d->moveCursor(int(d->rows.size()) - 1);
    d->eof = true;
    d->bof = empty;
}

void MemTable::next()
{
    d->checkOpen();
    d->checkBrowse();
    if (d->rows.empty()) {
        d->bof = d->eof = true;
        return;
    }
    if (d->current < int(d->rows.size()) - 1) {
        d->moveCursor(d->current + 1);
        d->bof = d->eof = false;
    } else {
        d->eof = true;
    }
}

void MemTable::prior()
{
    d->checkOpen();
    d->checkBrowse();
    if (d->rows.empty()) {
        d->bof = d->eof = true;
        return;
    }
    if (d->current > 0) {
        d->moveCursor(d->current - 1);
        d->bof = d->eof = false;
    } else {
        d->bof = true;
    }
}

void MemTable::moveTo(int row)
{
    d->checkOpen();
    d->checkBrowse();
    d->checkRow(row);
    d->moveCursor(row);
    d->bof = d->eof = false;
}

bool MemTable::eof() const
{
    return !d->open || d->eof;
}

bool MemTable::bof() const
{
    return !d->open || d->bof;
}

bool MemTable::locate(const QString &fieldName, const QVariant &value, LocateOptions options)
{
    d->checkOpen();
    std::vector<int> columns;
    const QStringList names = fieldName.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &part : names)
        columns.push_back(indexOfField(part.trimmed()));
    if (columns.empty())
        d->fail(tr("nenhum campo foi informado para a localização."));
    QVariantList keys;
    if (columns.size() == 1) {
        keys.append(value);
    } else {
        keys = value.toList();
        if (keys.size() != qsizetype(columns.size()))
            d->fail(
                tr("localizar por %1 campos exige uma lista de %1 valores.").arg(columns.size()));
    }
    // Typed keys are checked once, so that a wrong type fails before any row is read.
    for (size_t i = 0; i < columns.size(); ++i) {
        const FieldDef &f = d->fields.at(columns[i]);
        if (!f.isText() && keys.at(qsizetype(i)).isValid() && !keys.at(qsizetype(i)).isNull())
            normalizedFieldValue(f, keys.at(qsizetype(i)), d->name);
    }
    d->checkBrowse();
    for (size_t row = 0; row < d->rows.size(); ++row) {
        bool all = true;
        for (size_t i = 0; i < columns.size() && all; ++i)
            all = d->matches(columns[i], d->cell(int(row), columns[i]), keys.at(qsizetype(i)),
                             options);
        if (all) {
            d->moveCursor(int(row));
            d->bof = d->eof = false;
            return true;
        }
    }
    return false;
}

void MemTable::append()
{
    d->checkOpen();
    d->checkBrowse();
    d->startEditBuffer(State::Insert, int(d->rows.size()));
}

void MemTable::insert()
{
    d->checkOpen();
    d->checkBrowse();
    d->startEditBuffer(State::Insert, qMax(d->current, 0));
}

void MemTable::edit()
{
    d->checkOpen();
    if (d->editing())
        return;
    if (d->rows.empty()) {
        insert();
        return;
    }
    d->editOriginal = d->rows[size_t(d->current)];
    d->buffer = DataRow(d->fields.size());
    d->bufferSet.assign(size_t(d->fields.size()), false);
    d->setState(State::Edit);
}

void MemTable::post()
{
    d->checkOpen();
    if (!d->editing())
        return;
    d->checkRequiredValues();
    const int before = d->current;
    const bool indexed = !d->indexFields.empty();
    const bool quiet = d->quiet();
    if (d->state == State::Insert)
        d->postInsert(indexed, quiet);
    else
        d->postEdit(indexed, quiet);
    d->reportCursor(before);
}

void MemTable::cancel()
{
    if (!d->editing())
        return;
    d->buffer = DataRow();
    d->setState(State::Browse);
    if (!d->quiet())
        emit dataChanged(-1);
}

void MemTable::deleteRecord()
{
    d->checkOpen();
    if (d->state == State::Insert) {
        cancel();
        return;
    }
    if (d->rows.empty())
        d->fail(tr("não há linha para excluir."));
    if (d->state == State::Edit) {
        d->buffer = DataRow();
        d->setState(State::Browse);
    }
    const int row = d->current;
    if (!d->quiet())
        emit rowAboutToBeRemoved(row);
    d->rows.erase(d->rows.begin() + row);
    d->pristine = false;
    const int count = int(d->rows.size());
    d->current = count == 0 ? -1 : qMin(row, count - 1);
    d->bof = d->eof = count == 0;
    if (!d->quiet())
        emit rowRemoved(row);
    d->reportCursor(row);
}

void MemTable::emptyDataSet()
{
    d->checkOpen();
    d->resetWith([&] {
        d->dropRows();
        d->buffer.clear();
        d->state = State::Browse;
        d->current = -1;
        d->bof = d->eof = true;
    });
}

QVariant MemTable::value(const QString &fieldName) const
{
    return value(indexOfField(fieldName));
}

QVariant MemTable::value(int fieldIndex) const
{
    d->checkOpen();
    d->checkField(fieldIndex);
    if (d->editing())
        return d->bufferValue(fieldIndex);
    if (d->current < 0)
        return {};
    return d->cell(d->current, fieldIndex);
}

void MemTable::setValue(const QString &fieldName, const QVariant &value)
{
    setValue(indexOfField(fieldName), value);
}

void MemTable::setValue(int fieldIndex, const QVariant &value)
{
    d->checkOpen();
    d->checkField(fieldIndex);
    if (!d->editing())
        d->fail(tr("o campo %1 só pode receber valor enquanto uma linha é alterada ou incluída.")
                    .arg(d->fields.at(fieldIndex).name));
    d->buffer[fieldIndex] = normalizedFieldValue(d->fields.at(fieldIndex), value, d->name);
    d->bufferSet[size_t(fieldIndex)] = true;
    if (!d->quiet())
        emit dataChanged(fieldIndex);
}

QString MemTable::asString(const QString &fieldName) const
{
    const int index = indexOfField(fieldName);
    const QVariant v = value(index);
    if (!v.isValid())
        return {};
    switch (d->fields.at(index).type) {
    case FieldType::String:
    case FieldType::FixedString:
        return v.toString();
    case FieldType::Float:
        return formatPlainNumber(v.toDouble(), QLocale());
    case FieldType::DateTime:
        return formatDateTime(v.toDateTime(), {}, QLocale());
    }
    return {};
}

double MemTable::asFloat(const QString &fieldName) const
{
    const int index = indexOfField(fieldName);
    const QVariant v = value(index);
    if (!v.isValid())
        return 0;
    switch (d->fields.at(index).type) {
    case FieldType::Float:
        return v.toDouble();
    case FieldType::DateTime:
        return toAutomationDate(v.toDateTime());
    case FieldType::String:
    case FieldType::FixedString: {
        const QString text = v.toString().trimmed();
        bool ok = false;
        double number = QLocale().toDouble(text, &ok);
        if (!ok)
            number = text.toDouble(&ok);
        if (!ok)
            d->fail(tr("o campo %1 tem \"%2\", que não é um número.").arg(fieldName, text));
        return number;
    }
    }
    return 0;
}

QDateTime MemTable::asDateTime(const QString &fieldName) const
{
    const int index = indexOfField(fieldName);
    const QVariant v = value(index);
    if (!v.isValid())
        return {};
    switch (d->fields.at(index).type) {
    case FieldType::DateTime:
        return v.toDateTime();
    case FieldType::Float:
        return fromAutomationDate(v.toDouble());
    case FieldType::String:
    case FieldType::FixedString:
        break;
    }
    d->fail(tr("o campo de texto %1 não pode ser lido como data.").arg(fieldName));
}

QVariant MemTable::valueAt(int row, int fieldIndex) const
{
    d->checkRow(row);
    d->checkField(fieldIndex);
    return d->cell(row, fieldIndex);
}

QByteArrayView MemTable::utf8At(int row, int fieldIndex, QByteArray *scratch) const
{
    d->checkRow(row);
    d->checkField(fieldIndex);
    if (!d->fields.at(fieldIndex).isText())
        d->fail(tr("o campo %1 não é de texto.").arg(d->fields.at(fieldIndex).name));
    return packedText(d->rows[size_t(row)], d->fields, fieldIndex, scratch);
}

int MemTable::findTextPrefix(int fieldIndex, QByteArrayView prefix, int from, int to) const
{
    d->checkField(fieldIndex);
    if (!d->fields.at(fieldIndex).isText())
        d->fail(tr("o campo %1 não é de texto.").arg(d->fields.at(fieldIndex).name));
    from = std::max(from, 0);
    to = std::min(to, recordCount());
    return from < to ? findPackedTextPrefix(d->rows, d->fields, fieldIndex, prefix, from, to) : -1;
}

QVariant MemTable::viewValue(int row, int fieldIndex) const
{
    d->checkRow(row);
    d->checkField(fieldIndex);
    return d->storedOrBuffer(row, fieldIndex);
}

QString MemTable::displayText(int row, int fieldIndex) const
{
    d->checkRow(row);
    d->checkField(fieldIndex);
    if (const GetTextHandler *handler = d->handlerAt[size_t(fieldIndex)])
        return (*handler)(*this, row, true);
    return d->formatValue(fieldIndex, d->storedOrBuffer(row, fieldIndex));
}

void MemTable::disableControls()
{
    if (d->disableCount == 0)
        emit aboutToReset();
    ++d->disableCount;
}

void MemTable::enableControls()
{
    if (d->disableCount == 0)
        return;
    if (--d->disableCount == 0)
        emit tableReset();
}

bool MemTable::controlsDisabled() const
{
    return d->disableCount > 0;
}

void MemTable::loadFromPacket(const QByteArray &packet)
{
    // The same bytes as the last load, into rows nobody changed since: the same table. A list
    // reloaded after every page of an export mostly comes back unchanged.
    if (d->open && d->pristine && packet == d->packet) {
        d->resetWith([&] { d->restartBrowsing(); });
        return;
    }
    // The rows view the packet's bytes, which must be the packet's own.
    QByteArray kept = packet;
    if (!kept.data_ptr().d_ptr())
        kept = QByteArray(packet.constData(), packet.size());
    // Everything is decoded, checked and ordered aside; the table changes only on success.
    QList<FieldDef> fields;
    std::vector<PackedRow> rows;
    const bool takeFields = d->fields.isEmpty() || d->fieldsFromPacket;
    if (takeFields) {
        PackedPacket decoded = decodePacketPacked(kept, d->name);
        fields = std::move(decoded.fields);
        rows = std::move(decoded.rows);
    } else {
        fields = d->fields;
        rows = decodePackedRows(kept, d->fields, d->name);
    }
    std::vector<int> index = d->resolveIndex(d->indexNames, fields);
    Private::stableSort(&rows, index, fields, nullptr);

    d->resetWith([&] {
        if (takeFields) {
            d->fields = std::move(fields);
            d->fieldsFromPacket = true;
            d->rebuildFieldLookups();
        }
        d->rows.swap(rows);
        kept.swap(d->packet);
        d->pristine = true;
        d->indexFields = std::move(index);
        d->open = true;
        d->restartBrowsing();
    });
    // The old rows are released after the views have let go of them, then their packet.
    std::vector<PackedRow>().swap(rows);
}

QByteArray MemTable::saveToPacket() const
{
    d->checkOpen();
    PacketWriter writer(d->fields, qsizetype(d->rows.size()), d->name);
    for (const PackedRow &row : d->rows)
        writer.addPackedRow(row);
    return writer.finish();
}

} // namespace fis
