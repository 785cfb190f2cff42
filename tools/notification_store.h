#pragma once

// Writes notification stores in the record layout the database detector reads: tables `app`
// (app_id, identifier) and `record` (app_id, data holding a property list), write-ahead journal.
// For the posting tool, the tests and the benchmarks; the application itself never writes a store.

#include "detection/property_list.h"
#include "detection/sqlite_connection.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace notificationstore {

enum class Encoding { binary, xml };

// Texts and dictionaries as they are; an "other" value is written as the integer 1.
QByteArray encodePropertyList(const PropertyList& value, Encoding encoding = Encoding::binary);

// The record property list of one notification: the bundle identifier at the top level and the
// request's title, subtitle and body.
PropertyList notificationRecord(const QString& bundleId, const std::optional<QString>& title,
                                const std::optional<QString>& subtitle = std::nullopt,
                                const std::optional<QString>& body = std::nullopt);

class Writer {
public:
    // Opens (creating the file, its folders and the tables when missing) the store at `path`.
    // Not open on failure; error() says why.
    explicit Writer(const QString& path);

    bool isOpen() const { return db_.isOpen() && error_.isEmpty(); }
    const QString& error() const { return error_; }
    SqliteConnection& connection() { return db_; }

    // Appends one record for `bundleId` (its `app` row made on first use); returns the new row id.
    std::optional<int64_t> appendRecord(const QString& bundleId, const QByteArray& data);
    // Appends one record with a NULL app_id.
    std::optional<int64_t> appendRecordWithoutApp(const std::optional<QByteArray>& data);

private:
    std::optional<int64_t> appId(const QString& bundleId);
    bool fail(const QString& what);

    SqliteConnection db_;
    QString error_;
};

}  // namespace notificationstore
