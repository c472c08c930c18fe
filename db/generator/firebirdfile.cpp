#include "firebirdfile.h"

#include "demodata.h"

#include <QByteArray>
#include <QStringList>

#include <ibase.h>

namespace fis {

namespace {

constexpr int kPageSize = 16384;

// A database parameter block: user, password, and the connection's character set.
class ParameterBlock
{
public:
    explicit ParameterBlock(const DatabaseTarget &target)
    {
        m_bytes.append(char(isc_dpb_version1));
        addText(isc_dpb_user_name, target.user.toUtf8());
        QString password;
        try {
            password = target.password();
        } catch (const Error &e) {
            throw DemoDataError(e.message());
        }
        addText(isc_dpb_password, password.toUtf8());
        addText(isc_dpb_lc_ctype, "UTF8");
    }

    void addText(char item, const QByteArray &text)
    {
        m_bytes.append(item);
        m_bytes.append(char(text.size()));
        m_bytes.append(text);
    }

    void addInteger(char item, quint32 value)
    {
        m_bytes.append(item);
        m_bytes.append(char(4));
        for (int shift = 0; shift < 32; shift += 8)
            m_bytes.append(char((value >> shift) & 0xff));
    }

    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

QString statusText(const ISC_STATUS *status)
{
    QStringList parts;
    char buffer[512];
    const ISC_STATUS *vector = status;
    while (fb_interpret(buffer, sizeof buffer, &vector) > 0)
        parts << QString::fromUtf8(buffer);
    return parts.join(QStringLiteral(" - "));
}

[[noreturn]] void fail(const QString &what, const DatabaseTarget &target, const ISC_STATUS *status)
{
    throw DemoDataError(
        QStringLiteral("%1 %2: %3").arg(what, target.toString(), statusText(status)));
}

} // namespace

bool dropFirebirdDatabase(const DatabaseTarget &target)
{
    const QByteArray path = target.firebirdConnectString().toUtf8();
    const ParameterBlock dpb(target);
    ISC_STATUS_ARRAY status{};
    isc_db_handle db = 0;
    if (isc_attach_database(status, 0, path.constData(), &db, short(dpb.bytes().size()),
                            dpb.bytes().constData())) {
        // The server could not open the file: there is no database to drop.
        if (status[1] == isc_io_error)
            return false;
        fail(QStringLiteral("Não foi possível abrir o banco de dados"), target, status);
    }
    if (isc_drop_database(status, &db)) {
        const QString text = statusText(status);
        isc_detach_database(status, &db);
        throw DemoDataError(QStringLiteral("Não foi possível remover o banco de dados %1: %2")
                                .arg(target.toString(), text));
    }
    return true;
}

void setFirebirdForcedWrites(const DatabaseTarget &target, bool on)
{
    const QByteArray path = target.firebirdConnectString().toUtf8();
    ParameterBlock dpb(target);
    dpb.addInteger(isc_dpb_force_write, on ? 1 : 0);
    ISC_STATUS_ARRAY status{};
    isc_db_handle db = 0;
    if (isc_attach_database(status, 0, path.constData(), &db, short(dpb.bytes().size()),
                            dpb.bytes().constData()))
        fail(QStringLiteral("Não foi possível mudar a gravação forçada do banco de dados"), target,
             status);
    isc_detach_database(status, &db);
}

void createFirebirdDatabase(const DatabaseTarget &target)
{
    dropFirebirdDatabase(target);
    const QByteArray path = target.firebirdConnectString().toUtf8();
    ParameterBlock dpb(target);
    dpb.addInteger(isc_dpb_page_size, kPageSize);
    dpb.addInteger(isc_dpb_sql_dialect, SQL_DIALECT_V6);
    dpb.addText(isc_dpb_set_db_charset, "UTF8");
    // Without a synced write of every page the bulk load is several times faster.
    dpb.addInteger(isc_dpb_force_write, 0);
    ISC_STATUS_ARRAY status{};
    isc_db_handle db = 0;
    if (isc_create_database(status, 0, path.constData(), &db, short(dpb.bytes().size()),
                            dpb.bytes().constData(), 0))
        fail(QStringLiteral("Não foi possível criar o banco de dados"), target, status);
    isc_detach_database(status, &db);
}

} // namespace fis
