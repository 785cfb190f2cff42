#pragma once

#include "detection/query_candidate.h"

#include <QString>

#include <set>
#include <vector>

class SqliteConnection;

// The declared columns of the four tables a notification store may have, and the query
// candidates they allow, best first.
struct NotificationDatabaseSchema {
    std::set<QString> record;
    std::set<QString> app;
    std::set<QString> notifications;
    std::set<QString> notification;

    static NotificationDatabaseSchema read(const SqliteConnection& db);

    // The declared column names of `table` (one of the four fixed names: it is inserted into the
    // PRAGMA as it is). A missing table or a PRAGMA that does not prepare gives the empty set.
    static std::set<QString> tableColumns(const SqliteConnection& db, const QString& table);

    // "record=[...] app=[...] notifications=[...] notification=[...]": names sorted, quoted.
    QString description() const;

    std::vector<QueryCandidate> queryCandidates() const;
};
