#include "detection/notification_database_schema.h"

#include "detection/sqlite_connection.h"
#include "detection/sqlite_statement.h"

#include <QStringList>

#include <sqlite3.h>

namespace {

QString list(const std::set<QString>& names) {
    QStringList quoted;
    for (const QString& name : names) quoted << u'"' + name + u'"';
    return u'[' + quoted.join(QStringLiteral(", ")) + u']';
}

bool has(const std::set<QString>& columns, const char* name) { return columns.count(QString::fromLatin1(name)) > 0; }

QueryCandidate legacyCandidate(const QString& table, const QString& idColumn) {
    const QString suffix = idColumn == QLatin1String("ROWID") ? QStringLiteral("rowid") : idColumn;
    return QueryCandidate{
        QStringLiteral("legacy-%1-%2").arg(table, suffix),
        QStringLiteral("SELECT %2, app_id, title, body, bundle_id FROM %1 WHERE %2 > ? ORDER BY %2 DESC LIMIT 20")
            .arg(table, idColumn),
        QStringLiteral("SELECT MAX(%2) FROM %1").arg(table, idColumn),
        QueryFormat::legacy,
    };
}

void addLegacyCandidates(std::vector<QueryCandidate>& out, const QString& table, const std::set<QString>& columns) {
    if (!has(columns, "title") || !has(columns, "body") || !has(columns, "bundle_id")) return;
    if (has(columns, "ROWID")) out.push_back(legacyCandidate(table, QStringLiteral("ROWID")));
    if (has(columns, "record_id")) out.push_back(legacyCandidate(table, QStringLiteral("record_id")));
}

}  // namespace

std::set<QString> NotificationDatabaseSchema::tableColumns(const SqliteConnection& db, const QString& table) {
    std::set<QString> columns;
    SqliteStatement statement(db, QStringLiteral("PRAGMA table_info(") + table + u')');
    if (!statement.isPrepared()) return columns;
    while (statement.step() == SQLITE_ROW) {
        if (auto name = statement.columnText(1)) columns.insert(*name);
    }
    return columns;
}

NotificationDatabaseSchema NotificationDatabaseSchema::read(const SqliteConnection& db) {
    return NotificationDatabaseSchema{
        tableColumns(db, QStringLiteral("record")),
        tableColumns(db, QStringLiteral("app")),
        tableColumns(db, QStringLiteral("notifications")),
        tableColumns(db, QStringLiteral("notification")),
    };
}

QString NotificationDatabaseSchema::description() const {
    return QStringLiteral("record=") + list(record) + QStringLiteral(" app=") + list(app) +
           QStringLiteral(" notifications=") + list(notifications) + QStringLiteral(" notification=") +
           list(notification);
}

std::vector<QueryCandidate> NotificationDatabaseSchema::queryCandidates() const {
    std::vector<QueryCandidate> out;
    const QString recordWatermark = QStringLiteral("SELECT MAX(ROWID) FROM record");
    if (!record.empty()) {
        // Independent tests: a store may offer both, the join first.
        if (has(record, "app_id") && has(app, "app_id") && has(app, "identifier")) {
            out.push_back(QueryCandidate{
                QStringLiteral("sequoia-record-join-app_id"),
                QStringLiteral("SELECT r.ROWID, a.identifier, r.data\n"
                               "FROM record r\n"
                               "LEFT JOIN app a ON r.app_id = a.app_id\n"
                               "WHERE r.ROWID > ?\n"
                               "ORDER BY r.ROWID DESC\n"
                               "LIMIT 20"),
                recordWatermark,
                QueryFormat::sequoiaRecord,
            });
        }
        if (has(record, "data")) {
            out.push_back(QueryCandidate{
                QStringLiteral("sequoia-record-no-join"),
                QStringLiteral("SELECT r.ROWID, NULL, r.data\n"
                               "FROM record r\n"
                               "WHERE r.ROWID > ?\n"
                               "ORDER BY r.ROWID DESC\n"
                               "LIMIT 20"),
                recordWatermark,
                QueryFormat::sequoiaRecord,
            });
        }
    }
    addLegacyCandidates(out, QStringLiteral("notifications"), notifications);
    addLegacyCandidates(out, QStringLiteral("notification"), notification);
    return out;
}
