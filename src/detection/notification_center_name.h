#pragma once

#include <QString>

// Whether an application name is the system's notification process itself, under its English or
// Japanese name: what it shows is not a notification of an application of its own.
inline bool namesNotificationCenter(const QString& name) {
    const QString lower = name.toLower();
    return lower.contains(QLatin1String("notification center")) || lower.contains(QStringLiteral("通知センター"));
}
