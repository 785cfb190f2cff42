#pragma once

#include <QString>

#include <optional>

namespace platform {

// Why `folder` cannot serve as a private folder: it must be a folder (not a link to one) owned by
// this user that grants nothing to group or others. When `create` and it is missing, it is made (0700, parents
// as needed). None when it can be used.
std::optional<QString> privateFolderProblem(const QString& folder, bool create);

// A per-user folder no other local user can read or plant files in: `$XDG_RUNTIME_DIR/<name>`
// when the runtime folder is set and private, else `<cache>/<name>` under $XDG_CACHE_HOME (or
// ~/.cache). An existing folder that is not ours or is open to others is refused, never used:
// the result is then empty and `problem` says why.
QString privateFolder(const QString& name, QString* problem = nullptr);

}  // namespace platform
