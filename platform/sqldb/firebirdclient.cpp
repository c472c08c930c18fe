#include "firebirdclient.h"

#include <QStringList>

#include <cstring>

namespace fis::firebird {

bool Status::has(ISC_STATUS code) const
{
    int i = 0;
    while (i < ISC_STATUS_LENGTH - 1 && m_vector[i] != isc_arg_end) {
        const ISC_STATUS kind = m_vector[i];
        if (kind == isc_arg_gds && m_vector[i + 1] == code)
            return true;
        // A counted string takes a length and a pointer; every other argument one value.
        i += kind == isc_arg_cstring ? 3 : 2;
    }
    return false;
}

bool Status::isUpdateConflict() const
{
    return has(isc_update_conflict) && !has(isc_lock_timeout);
}

bool Status::isLockConflict() const
{
    // Firebird 3 ends a lock wait that runs out with "deadlock; read conflicts with concurrent
    // update" on a SELECT ... WITH LOCK, with a lock time-out elsewhere.
    return has(isc_deadlock) || has(isc_lock_conflict) || has(isc_lock_timeout) ||
           has(isc_update_conflict) || has(isc_read_conflict);
}

bool Status::isUniqueViolation() const
{
    return has(isc_unique_key_violation) || has(isc_no_dup);
}

QString Status::text() const
{
    if (!m_text.isNull())
        return m_text;
    QStringList lines;
    const ISC_STATUS *cursor = m_vector;
    char buffer[1024];
    while (fb_interpret(buffer, sizeof buffer, &cursor) > 0)
        lines.append(QString::fromUtf8(buffer));
    return lines.join(QStringLiteral("; "));
}

DatabaseError toError(const Status &status, const QString &what)
{
    DatabaseError error(QString(), QStringLiteral("Erro no banco de dados (%1)").arg(what),
                        status.text(), int(status.code()));
    if (status.isUniqueViolation())
        error.markUniqueViolation();
    return error;
}

void fail(const Status &status, const QString &what)
{
    throw toError(status, what);
}

void ParameterBlock::addString(char tag, QByteArrayView value)
{
    if (value.size() > 255)
        throw DatabaseError(
            QStringLiteral("Um valor da conexão ao Firebird passa de 255 bytes e não pode ser "
                           "enviado ao servidor."));
    m_bytes.append(tag);
    m_bytes.append(char(value.size()));
    m_bytes.append(value);
}

void ParameterBlock::addInteger(char tag, qint32 value)
{
    m_bytes.append(tag);
    m_bytes.append(char(4));
    // Little-endian, as Firebird reads the blocks on every platform.
    for (int shift = 0; shift < 32; shift += 8)
        m_bytes.append(char((quint32(value) >> shift) & 0xff));
}

void Sqlda::resize(int count)
{
    const size_t bytes = XSQLDA_LENGTH(std::max(count, 1));
    m_storage.assign((bytes + sizeof(double) - 1) / sizeof(double), 0.0);
    XSQLDA *area = get();
    area->version = SQLDA_VERSION1;
    area->sqln = short(count);
    area->sqld = 0;
}

int bytesPerCharacter(short charset)
{
    switch (charset & 0xff) {
    case kCharsetUtf8:
        return 4;
    case kCharsetUnicodeFss:
        return 3;
    default:
        return 1;
    }
}

} // namespace fis::firebird
