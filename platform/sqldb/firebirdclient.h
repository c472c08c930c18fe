#pragma once

// What the Firebird connection's files share on top of fbclient's C API (ibase.h): status
// vectors turned into DatabaseError, parameter blocks, descriptor areas.

#include "base/error.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <ibase.h>

#include <vector>

namespace fis::firebird {

// Firebird's numbers for the character sets the connection meets.
constexpr short kCharsetNone = 0;
constexpr short kCharsetOctets = 1;
constexpr short kCharsetUnicodeFss = 3;
constexpr short kCharsetUtf8 = 4;

// The longest text a VARCHAR parameter or column holds, in bytes.
constexpr int kMaxVaryingBytes = 32765;

// The status vector of one fbclient call.
class Status
{
public:
    ISC_STATUS *get() { return m_vector; }
    const ISC_STATUS *vector() const { return m_vector; }
    bool failed() const { return m_vector[0] == isc_arg_gds && m_vector[1] != 0; }
    ISC_STATUS code() const { return failed() ? m_vector[1] : 0; }
    // Whether any error of the vector has that code.
    bool has(ISC_STATUS code) const;
    // A row this transaction waited for was changed by another that committed meanwhile: the
    // transaction may start again and see the change.
    bool isUpdateConflict() const;
    // A lock held by another transaction was not had: the wait ran out (or was not allowed),
    // or ended in an update conflict.
    bool isLockConflict() const;
    bool isUniqueViolation() const;
    // The engine's text (fb_interpret), one line per error, joined.
    QString text() const;
    // Reads the text now: the vector points into fbclient's buffers, which later calls reuse.
    void keepText() { m_text = text(); }

private:
    ISC_STATUS_ARRAY m_vector{};
    QString m_text;
};

// The DatabaseError for a failed call; `what` names in Portuguese what was being done.
DatabaseError toError(const Status &status, const QString &what);
[[noreturn]] void fail(const Status &status, const QString &what);

// A database or transaction parameter block, built item by item.
class ParameterBlock
{
public:
    explicit ParameterBlock(char version) { m_bytes.append(version); }
    // The block may hold a password.
    ~ParameterBlock() { m_bytes.fill('\0'); }
    ParameterBlock(const ParameterBlock &) = delete;
    ParameterBlock &operator=(const ParameterBlock &) = delete;

    void add(char tag) { m_bytes.append(tag); }
    // Throws DatabaseError for a value over 255 bytes, which a block cannot hold.
    void addString(char tag, QByteArrayView value);
    void addInteger(char tag, qint32 value);

    const char *data() const { return m_bytes.constData(); }
    short size() const { return short(m_bytes.size()); }

private:
    QByteArray m_bytes;
};

// An extended SQL descriptor area (XSQLDA) for a number of variables.
class Sqlda
{
public:
    explicit Sqlda(int count = 0) { resize(count); }
    void resize(int count);
    XSQLDA *get() { return reinterpret_cast<XSQLDA *>(m_storage.data()); }
    const XSQLDA *get() const { return reinterpret_cast<const XSQLDA *>(m_storage.data()); }
    // The area to pass to fbclient: none without variables.
    XSQLDA *orNull() { return capacity() ? get() : nullptr; }
    int capacity() const { return get()->sqln; }
    // The variables the statement described (may exceed capacity() after a describe).
    int described() const { return get()->sqld; }
    XSQLVAR &operator[](int i) { return get()->sqlvar[i]; }
    const XSQLVAR &operator[](int i) const { return get()->sqlvar[i]; }

private:
    std::vector<double> m_storage; // doubles: aligned for the pointers inside
};

// Bytes per character of a text in a character set, as Firebird sizes its buffers.
int bytesPerCharacter(short charset);

} // namespace fis::firebird
