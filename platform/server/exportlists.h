#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace fis {

class SqlConnection;

// The life of an export list, kept in the database so that any server on it can carry it on.
//
// A list belongs to the client session that took it (LISTACOMPRALEG.CDSESSAO) and is in one of
// three states (IDSITUACAO):
//   'A' open       files still to serve; its invoices are marked exported file by file;
//   'E' delivered  every file served; the client may still report that it failed to write the
//                  last one, which puts that file's invoices back;
//   'F' final      nothing can undo it; its marked invoices are dropped, the list and its file
//                  rows stay as the record of what was reported.
// A file (ARQCOMPRALEG.IDSERVIDO) is 'N' until its last page is answered, 'S' then, and 'E'
// (delivered) once the client went on to the next file or the list became final: a client
// writes its files in order and asks for the next one only after the last one is written.
//
// Undoing a list ("reverting") gives the invoices of every file not delivered their flag from
// before the list back and removes the list with its invoices, files and lines. An invoice is
// on at most one list that is not final (a unique index), so no two unfinished exports report it.
//
// Every list records its last activity (DTATIVIDADE, milliseconds since 1970 UTC) and the
// server that had it (CDSERVIDOR). Each function here works inside the caller's transaction
// unless it says otherwise.
namespace exportlists {

inline constexpr char kOpen[] = "A";
inline constexpr char kDelivered[] = "E";
inline constexpr char kFinal[] = "F";

// The states of a file (ARQCOMPRALEG.IDSERVIDO), as above.
inline constexpr char kFileNotServed[] = "N";
inline constexpr char kFileServed[] = "S";
inline constexpr char kFileDelivered[] = "E";

// Milliseconds since 1970 UTC: the clock of the activity and heartbeat columns.
qint64 now();

// A list as its owner sees it.
struct OwnedList
{
    QString number;
    QString state; // kOpen, kDelivered or kFinal
};

// The list `number` if `session` took it; nothing for another session's list or an unknown one,
// which callers answer alike, so that nobody learns of another's lists.
std::optional<OwnedList> findOwned(SqlConnection &db, const QString &number,
                                   const QString &session);

// Records a call on the list: now, by `server`.
void touch(SqlConnection &db, const QString &number, const QString &server);

// Undoes the list (see above). Returns the number of invoices whose flag went back.
qint64 revert(SqlConnection &db, const QString &number);

// Makes a delivered list final (see above).
void finalize(SqlConnection &db, const QString &number);

// What became of a session's lists.
struct Outcome
{
    QStringList reverted;
    QStringList finalized;
};

// One log line per list: "list N undone: <why>" or "list N final: <why>".
QStringList describe(const Outcome &outcome, const QString &why);

// A session that starts a new run has ended the earlier ones (a client runs one export at a
// time): its delivered lists become final and its open ones are undone.
Outcome closeSession(SqlConnection &db, const QString &session);

// A session whose connection ended: its delivered lists become final and its open lists that
// have no file yet are removed. Open lists with files are left to the lease: the client may come
// back on another connection. Runs its own transaction.
Outcome endSession(SqlConnection &db, const QString &session);

// Lists without activity for longer than `leaseMs`: the open ones are undone, the delivered ones
// become final. Each list in its own transaction, checked again inside it, so that a list a
// server has just touched is left alone.
Outcome expire(SqlConnection &db, qint64 leaseMs);

// The server processes working on the database, so that a starting server can tell which
// lists a dead one left behind (SERVCOMPRALEG).
class ServerRegistry
{
public:
    ServerRegistry(SqlConnection &db, qint64 leaseMs);

    // This process's identity, drawn at construction.
    const QString &id() const { return m_id; }
    // Registers this process. Runs its own transaction.
    void enroll();
    // Renews this process's heartbeat, enrolling it again if someone removed it. Own transaction.
    void heartbeat();
    // Removes this process. Own transaction.
    void withdraw();
    // Undoes the open lists whose last call was on a server that is no longer running (or that
    // no registered server had), and removes the dead servers. For a server about to serve.
    // Own transactions.
    Outcome recover();

private:
    bool isAlive(const QString &machine, const QString &boot, qint64 pid, qint64 started,
                 qint64 heartbeat) const;

    SqlConnection &m_db;
    qint64 m_leaseMs;
    QString m_id;
};

} // namespace exportlists
} // namespace fis
