#include "tools/notification_store.h"

#include "detection/sqlite_statement.h"

#include <sqlite3.h>

#include <QDir>
#include <QFileInfo>

#include <plist/plist.h>

#include <cstdlib>

namespace notificationstore {

namespace {

plist_t toNode(const PropertyList& value) {
    switch (value.kind()) {
    case PropertyList::Kind::text:
        return plist_new_string(value.text()->toUtf8().constData());
    case PropertyList::Kind::dictionary: {
        plist_t dict = plist_new_dict();
        for (const auto& [key, item] : value.entries()) plist_dict_set_item(dict, key.toUtf8().constData(), toNode(item));
        return dict;
    }
    case PropertyList::Kind::other:
        break;
    }
    return plist_new_uint(1);
}

}  // namespace

QByteArray encodePropertyList(const PropertyList& value, Encoding encoding) {
    plist_t root = toNode(value);
    char* bytes = nullptr;
    uint32_t length = 0;
    if (encoding == Encoding::binary)
        plist_to_bin(root, &bytes, &length);
    else
        plist_to_xml(root, &bytes, &length);
    QByteArray out(bytes, static_cast<qsizetype>(length));
    std::free(bytes);
    plist_free(root);
    return out;
}

PropertyList notificationRecord(const QString& bundleId, const std::optional<QString>& title,
                                const std::optional<QString>& subtitle, const std::optional<QString>& body) {
    std::vector<std::pair<QString, PropertyList>> request;
    if (title) request.emplace_back(QStringLiteral("titl"), PropertyList::makeText(*title));
    if (subtitle) request.emplace_back(QStringLiteral("subt"), PropertyList::makeText(*subtitle));
    if (body) request.emplace_back(QStringLiteral("body"), PropertyList::makeText(*body));
    return PropertyList::makeDictionary({
        {QStringLiteral("identifier"), PropertyList::makeText(bundleId)},
        {QStringLiteral("req"), PropertyList::makeDictionary(std::move(request))},
    });
}

Writer::Writer(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        error_ = QStringLiteral("cannot create folder ") + folder;
        return;
    }
    db_ = SqliteConnection::openReadWriteCreate(path);
    if (!db_.isOpen()) {
        error_ = QStringLiteral("cannot open ") + path + QStringLiteral(": ") + db_.errorMessage();
        return;
    }
    db_.setBusyTimeout(5000);
    // journal_mode answers with a row, so it goes through a statement of its own.
    {
        SqliteStatement journal(db_, QStringLiteral("PRAGMA journal_mode=WAL"));
        if (!journal.isPrepared() || journal.step() != SQLITE_ROW) {
            fail(QStringLiteral("cannot switch to the write-ahead journal"));
            return;
        }
    }
    // Keep the write-ahead log when the last connection closes (emptied, not deleted), as a
    // store that the system holds open would: a reader watching the log keeps its events.
    int persist = 1;
    sqlite3_file_control(db_.handle(), "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    if (!db_.execute("PRAGMA journal_size_limit=0; PRAGMA synchronous=NORMAL;"
                     "CREATE TABLE IF NOT EXISTS app (app_id INTEGER PRIMARY KEY, identifier TEXT UNIQUE);"
                     "CREATE TABLE IF NOT EXISTS record (rec_id INTEGER PRIMARY KEY, app_id INTEGER, data BLOB);"))
        fail(QStringLiteral("cannot create the tables"));
}

bool Writer::fail(const QString& what) {
    error_ = what + QStringLiteral(": ") + db_.errorMessage();
    return false;
}

std::optional<int64_t> Writer::appId(const QString& bundleId) {
    {
        SqliteStatement insert(db_, QStringLiteral("INSERT OR IGNORE INTO app (identifier) VALUES (?)"));
        if (!insert.isPrepared() || !insert.bindText(1, bundleId) || !insert.run()) {
            fail(QStringLiteral("cannot add the application"));
            return std::nullopt;
        }
    }
    SqliteStatement select(db_, QStringLiteral("SELECT app_id FROM app WHERE identifier = ?"));
    if (!select.isPrepared() || !select.bindText(1, bundleId) || select.step() != SQLITE_ROW) {
        fail(QStringLiteral("cannot find the application"));
        return std::nullopt;
    }
    return select.columnInt64(0);
}

std::optional<int64_t> Writer::appendRecord(const QString& bundleId, const QByteArray& data) {
    if (!isOpen()) return std::nullopt;
    auto app = appId(bundleId);
    if (!app) return std::nullopt;
    SqliteStatement insert(db_, QStringLiteral("INSERT INTO record (app_id, data) VALUES (?, ?)"));
    if (!insert.isPrepared() || !insert.bindInt64(1, *app) || !insert.bindBlob(2, data) || !insert.run()) {
        fail(QStringLiteral("cannot add the record"));
        return std::nullopt;
    }
    return db_.lastInsertRowId();
}

std::optional<int64_t> Writer::appendRecordWithoutApp(const std::optional<QByteArray>& data) {
    if (!isOpen()) return std::nullopt;
    SqliteStatement insert(db_, QStringLiteral("INSERT INTO record (app_id, data) VALUES (NULL, ?)"));
    bool bound = data ? insert.bindBlob(1, *data) : insert.bindNull(1);
    if (!insert.isPrepared() || !bound || !insert.run()) {
        fail(QStringLiteral("cannot add the record"));
        return std::nullopt;
    }
    return db_.lastInsertRowId();
}

}  // namespace notificationstore
