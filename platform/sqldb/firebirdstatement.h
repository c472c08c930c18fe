#pragma once

#include "firebirdclient.h"
#include "firebirdvalues.h"
#include "sqldb/sqldatabase.h"

#include <memory>

namespace fis::firebird {

class FirebirdAttachment;

// A statement prepared once on an attachment: its numbered parameters become positional ones
// (firebirdsqltext.h). It runs in the attachment's open transaction, or outside one in a
// transaction of its own (FirebirdAttachment::runAlone), which a query keeps until its rows
// run out or it is reset. As with SQLite, a step() after the last row runs it again.
class FirebirdStatement final : public SqlStatementImpl
{
public:
    FirebirdStatement(FirebirdAttachment &db, QByteArrayView sql);
    ~FirebirdStatement() override;

    void bindUtf8(int index, QByteArrayView utf8) override;
    void bindUtf8NoCopy(int index, QByteArrayView utf8) override;
    void bind(int index, qint64 value) override;
    void bind(int index, double value) override;
    void bindNull(int index) override;
    bool step() override;
    int execute() override;
    void reset() override;
    bool isNull(int column) const override;
    QByteArrayView utf8(int column) const override;
    qint64 integer(int column) const override;
    double real(int column) const override;

    // What Firebird described for each parameter position (types, lengths, character sets).
    const Sqlda &describedParameters() const { return m_described; }

private:
    enum class State { Ready, Cursor, Row, Done };

    void prepareText(QByteArrayView sql);
    void describe();
    int statementType();
    Status run(isc_tr_handle &transaction);
    void open();
    bool fetch();
    void close(bool commit);
    int changedRows();

    FirebirdAttachment &m_db;
    isc_stmt_handle m_stmt = 0;
    int m_type = 0;
    bool m_hasCursor = false;
    Sqlda m_described;
    Sqlda m_output;
    std::unique_ptr<Parameters> m_parameters;
    ResultRow m_row;
    State m_state = State::Ready;
    bool m_cursorOpen = false;
    // The statement's own transaction outside begin(), 0 when none is open.
    isc_tr_handle m_own = 0;
};

} // namespace fis::firebird
