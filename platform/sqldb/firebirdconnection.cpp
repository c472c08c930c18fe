#include "sqldb/firebirdconnection.h"

#include "firebirdattachment.h"

namespace fis {

namespace {

constexpr qint32 kPageSize = 16384;

[[noreturn]] void failOn(const DatabaseTarget &target, const QString &what,
                         const firebird::Status &status)
{
    throw DatabaseError(QString(), what.arg(target.toString()), status.text(), int(status.code()));
}

} // namespace

std::unique_ptr<SqlConnection> openFirebirdDatabase(const DatabaseTarget &target,
                                                    const SqlOpenOptions &options)
{
    return std::make_unique<firebird::FirebirdAttachment>(target, options);
}

void createFirebirdDatabase(const DatabaseTarget &target, bool forcedWrites)
{
    firebird::ParameterBlock dpb(isc_dpb_version1);
    firebird::addLogin(dpb, target);
    dpb.addInteger(isc_dpb_page_size, kPageSize);
    dpb.addInteger(isc_dpb_sql_dialect, SQL_DIALECT_V6);
    dpb.addString(isc_dpb_set_db_charset, "UTF8");
    dpb.addInteger(isc_dpb_force_write, forcedWrites ? 1 : 0);
    const QByteArray name = target.firebirdConnectString().toUtf8();
    isc_db_handle db = 0;
    firebird::Status status;
    if (isc_create_database(status.get(), 0, name.constData(), &db, dpb.size(), dpb.data(), 0))
        failOn(target, QStringLiteral("Não foi possível criar o banco de dados %1"), status);
    if (isc_detach_database(status.get(), &db))
        failOn(target, QStringLiteral("O banco de dados %1 foi criado, mas não se desligou"),
               status);
}

void setFirebirdForcedWrites(const DatabaseTarget &target, bool on)
{
    firebird::ParameterBlock dpb(isc_dpb_version1);
    firebird::addLogin(dpb, target);
    dpb.addInteger(isc_dpb_force_write, on ? 1 : 0);
    const QByteArray name = target.firebirdConnectString().toUtf8();
    isc_db_handle db = 0;
    firebird::Status status;
    if (isc_attach_database(status.get(), 0, name.constData(), &db, dpb.size(), dpb.data()))
        failOn(target, QStringLiteral("Não foi possível mudar a gravação forçada de %1"), status);
    isc_detach_database(status.get(), &db);
}

bool dropFirebirdDatabase(const DatabaseTarget &target)
{
    firebird::ParameterBlock dpb(isc_dpb_version1);
    firebird::addLogin(dpb, target);
    const QByteArray name = target.firebirdConnectString().toUtf8();
    isc_db_handle db = 0;
    firebird::Status status;
    if (isc_attach_database(status.get(), 0, name.constData(), &db, dpb.size(), dpb.data())) {
        // The server could not open the file: there is no database to drop.
        if (status.code() == isc_io_error)
            return false;
        failOn(target, QStringLiteral("Não foi possível abrir o banco de dados %1 para removê-lo"),
               status);
    }
    if (isc_drop_database(status.get(), &db)) {
        status.keepText();
        firebird::Status detaching;
        isc_detach_database(detaching.get(), &db);
        failOn(target, QStringLiteral("Não foi possível remover o banco de dados %1"), status);
    }
    return true;
}

} // namespace fis
