#pragma once

#include <QString>

#include <optional>

// How the running application is signed, for the log.
namespace AppRuntimeDiagnostics {

// Read afresh from the bundle's signature at each call; absent when there is none.
std::optional<QString> codeIdentifier();
std::optional<QString> teamIdentifier();

// Logs "RuntimeSigning[<context>]: bundleID=... codeID=... teamID=... path=...".
void logSigningState(const QString& context);

}  // namespace AppRuntimeDiagnostics

namespace Actions {

// Brings the app forward and asks the desktop's notification daemon to show its list; where the
// daemon keeps none, clicks Notification Center's menu-bar item by script once it has answered.
// A failure is logged and otherwise ignored.
void openNotificationCenter();

}  // namespace Actions
