#pragma once

#include <QString>

class QSqlDatabase;

/// The history's tables and their upgrades. The same SQL serves SQLite and PostgreSQL.
namespace HistorySchema {

constexpr int Version = 3;

/// Starts a transaction that holds the database's write lock from its first statement, so that
/// what it reads stays true until it commits: BEGIN IMMEDIATE on SQLite, a transaction-scoped
/// lock on PostgreSQL.
bool beginWrite(QSqlDatabase &db, bool sqlite, QString *error);
/// Creates the tables or brings them to Version, stored rows included; a newer version is
/// refused with the reason.
bool migrate(QSqlDatabase &db, bool sqlite, QString *error);

} // namespace HistorySchema
