#include "firebirdstatement.h"

#include "firebirdattachment.h"
#include "firebirdsqltext.h"

#include <QLocale>

namespace fis::firebird {

namespace {

// Firebird 3 takes statement texts up to 64 KB.
constexpr qsizetype kMaxStatementBytes = 65535;
// Output variables described at prepare; a statement with more is described again.
constexpr int kFirstOutputGuess = 32;
constexpr ISC_STATUS kNoMoreRows = 100;

QString preparing()
{
    return QStringLiteral("preparação do comando");
}

QString executing()
{
    return QStringLiteral("execução do comando");
}

// The value of each item of an information answer, until its end.
template<typename Handle> void forEachItem(const char *answer, const char *end, Handle &&handle)
{
    while (answer + 3 <= end && *answer != isc_info_end) {
        const char item = *answer;
        const auto length = isc_vax_integer(answer + 1, 2);
        handle(item, answer + 3, short(length));
        answer += 3 + length;
    }
}

} // namespace

FirebirdStatement::FirebirdStatement(FirebirdAttachment &db, QByteArrayView sql)
    : m_db(db)
{
    const PositionalStatement positional = toPositional(sql);
    if (positional.text.size() > kMaxStatementBytes)
        throw DatabaseError(QStringLiteral("O comando tem %1 bytes; o Firebird aceita até %2.")
                                .arg(positional.text.size())
                                .arg(kMaxStatementBytes));
    Status status;
    if (isc_dsql_allocate_statement(status.get(), db.handle(), &m_stmt))
        fail(status, preparing());
    try {
        prepareText(positional.text);
        m_described.resize(int(positional.numbers.size()));
        describe();
        if (m_described.described() != positional.numbers.size())
            throw DatabaseError(
                QStringLiteral("O Firebird conta %1 parâmetros no comando, e não %2.")
                    .arg(m_described.described())
                    .arg(positional.numbers.size()));
        m_parameters =
            std::make_unique<Parameters>(positional.numbers, positional.highestNumber, m_described);
    } catch (...) {
        Status dropping;
        isc_dsql_free_statement(dropping.get(), &m_stmt, DSQL_drop);
        throw;
    }
}

FirebirdStatement::~FirebirdStatement()
{
    try {
        close(true);
    } catch (const DatabaseError &) {
        // Nothing is left to tell: the statement's own transaction only read.
    }
    Status status;
    isc_dsql_free_statement(status.get(), &m_stmt, DSQL_drop);
}

void FirebirdStatement::prepareText(QByteArrayView sql)
{
    Status status;
    m_output.resize(kFirstOutputGuess);
    if (isc_dsql_prepare(status.get(), m_db.prepareTransaction(), &m_stmt,
                         static_cast<unsigned short>(sql.size()), sql.data(), SQL_DIALECT_V6,
                         m_output.get()))
        fail(status, preparing());
    if (m_output.described() > m_output.capacity()) {
        m_output.resize(m_output.described());
        if (isc_dsql_describe(status.get(), &m_stmt, SQLDA_VERSION1, m_output.get()))
            fail(status, preparing());
    }
    m_row.allocate(m_output);
    m_type = statementType();
    m_hasCursor = m_type == isc_info_sql_stmt_select || m_type == isc_info_sql_stmt_select_for_upd;
}

void FirebirdStatement::describe()
{
    Status status;
    if (isc_dsql_describe_bind(status.get(), &m_stmt, SQLDA_VERSION1, m_described.get()))
        fail(status, preparing());
}

int FirebirdStatement::statementType()
{
    const char item = isc_info_sql_stmt_type;
    char answer[16];
    Status status;
    if (isc_dsql_sql_info(status.get(), &m_stmt, 1, &item, sizeof answer, answer))
        fail(status, preparing());
    int type = 0;
    forEachItem(answer, answer + sizeof answer, [&](char key, const char *value, short length) {
        if (key == isc_info_sql_stmt_type)
            type = int(isc_vax_integer(value, length));
    });
    return type;
}

void FirebirdStatement::bindUtf8(int index, QByteArrayView utf8)
{
    m_parameters->bindText(index, utf8, true);
}

void FirebirdStatement::bindUtf8NoCopy(int index, QByteArrayView utf8)
{
    m_parameters->bindText(index, utf8, false);
}

void FirebirdStatement::bind(int index, qint64 value)
{
    m_parameters->bindInteger(index, value);
}

void FirebirdStatement::bind(int index, double value)
{
    // As text in its shortest exact form: Firebird converts it to the parameter's type, and a
    // VARCHAR gets 0.1 rather than 0.1000000000000000055.
    m_parameters->bindText(index, QByteArray::number(value, 'g', QLocale::FloatingPointShortest),
                           true);
}

void FirebirdStatement::bindNull(int index)
{
    m_parameters->bindNull(index);
}

Status FirebirdStatement::run(isc_tr_handle &transaction)
{
    Status status;
    XSQLDA *input = m_parameters->fill();
    if (m_hasCursor) {
        if (!isc_dsql_execute(status.get(), &transaction, &m_stmt, SQLDA_VERSION1, input))
            m_cursorOpen = true;
    } else if (m_output.described() > 0) {
        isc_dsql_execute2(status.get(), &transaction, &m_stmt, SQLDA_VERSION1, input,
                          m_output.get());
    } else {
        isc_dsql_execute(status.get(), &transaction, &m_stmt, SQLDA_VERSION1, input);
    }
    return status;
}

void FirebirdStatement::open()
{
    m_row.invalidate();
    if (isc_tr_handle transaction = m_db.transaction()) {
        const Status status = run(transaction);
        if (status.failed())
            fail(status, executing());
        return;
    }
    m_own =
        m_db.runAlone([this](isc_tr_handle &transaction) { return run(transaction); }, executing());
}

bool FirebirdStatement::fetch()
{
    Status status;
    const ISC_STATUS rc = isc_dsql_fetch(status.get(), &m_stmt, SQLDA_VERSION1, m_output.get());
    m_row.invalidate();
    if (rc == 0)
        return true;
    if (rc == kNoMoreRows)
        return false;
    status.keepText();
    m_state = State::Ready;
    close(false);
    fail(status, QStringLiteral("leitura do resultado"));
}

void FirebirdStatement::close(bool commit)
{
    if (m_cursorOpen) {
        // The cursor may be gone with its transaction; closing it again is harmless.
        Status status;
        isc_dsql_free_statement(status.get(), &m_stmt, DSQL_close);
        m_cursorOpen = false;
    }
    if (m_own)
        m_db.endAlone(m_own, commit);
}

bool FirebirdStatement::step()
{
    if (m_state == State::Done) {
        close(true);
        m_state = State::Ready;
    }
    if (m_state == State::Row) {
        m_state = State::Done;
        return false;
    }
    if (m_state == State::Ready) {
        open();
        if (!m_hasCursor) {
            close(true);
            m_state = m_output.described() > 0 ? State::Row : State::Done;
            return m_state == State::Row;
        }
        m_state = State::Cursor;
    }
    if (fetch())
        return true;
    m_state = State::Done;
    close(true);
    return false;
}

int FirebirdStatement::execute()
{
    if (m_state != State::Ready) {
        m_state = State::Ready;
        close(true);
    }
    int changed = 0;
    try {
        open();
        if (m_hasCursor) {
            while (fetch()) {
            }
        } else {
            changed = changedRows();
        }
        close(true);
    } catch (...) {
        close(false);
        m_parameters->clear();
        throw;
    }
    m_parameters->clear();
    return changed;
}

int FirebirdStatement::changedRows()
{
    const char item = isc_info_sql_records;
    char answer[128];
    Status status;
    if (isc_dsql_sql_info(status.get(), &m_stmt, 1, &item, sizeof answer, answer))
        fail(status, executing());
    qint64 changed = 0;
    forEachItem(answer, answer + sizeof answer, [&](char key, const char *value, short length) {
        if (key != isc_info_sql_records)
            return;
        forEachItem(value, value + length, [&](char count, const char *number, short size) {
            if (count == isc_info_req_insert_count || count == isc_info_req_update_count ||
                count == isc_info_req_delete_count)
                changed += isc_vax_integer(number, size);
        });
    });
    return int(changed);
}

void FirebirdStatement::reset()
{
    m_state = State::Ready;
    m_parameters->clear();
    close(true);
}

bool FirebirdStatement::isNull(int column) const
{
    return m_row.isNull(column);
}

QByteArrayView FirebirdStatement::utf8(int column) const
{
    return m_row.utf8(column);
}

qint64 FirebirdStatement::integer(int column) const
{
    return m_row.integer(column);
}

double FirebirdStatement::real(int column) const
{
    return m_row.real(column);
}

} // namespace fis::firebird
