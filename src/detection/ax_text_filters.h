#pragma once

#include <QString>

// The word filters that tell a notification's content apart from the notification process's own
// controls, relative times and credits, in English and Japanese. Lengths count grapheme clusters
// and digits are any Unicode decimal digits, so names in any script measure as a reader sees them.
namespace AXTextFilters {

// Number of user-perceived characters (grapheme clusters) in `text`.
qsizetype characterCount(const QString& text);

// Texts that may become a snapshot's message or feed its signature.
bool shouldKeep(const QString& text);

// Texts that may name the application that posted a notification.
bool shouldKeepAsAppName(const QString& text);

// Reverse-domain identifiers of applications (not of the notification machinery itself).
bool isValidBundleId(const QString& text);

}  // namespace AXTextFilters
