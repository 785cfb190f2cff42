#pragma once

// Writes notification stores in the record layout the database detector reads, with any property
// list the tests need (also XML and odd values). For the posting tool, the tests and the benchmarks.

#include "detection/property_list.h"
#include "platform/notification_store/notification_store_writer.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace notificationstore {

enum class Encoding { binary, xml };

// Texts, data and dictionaries as they are; an "other" value is written as the integer 1.
QByteArray encodePropertyList(const PropertyList& value, Encoding encoding = Encoding::binary);

// The record property list of one notification: the bundle identifier at the top level and the
// request's title, subtitle and body.
PropertyList notificationRecord(const QString& bundleId, const std::optional<QString>& title,
                                const std::optional<QString>& subtitle = std::nullopt,
                                const std::optional<QString>& body = std::nullopt);

// The store writer lives with the platform's notification store; the tools use it as it is.
using Writer = platform::NotificationStoreWriter;

}  // namespace notificationstore
