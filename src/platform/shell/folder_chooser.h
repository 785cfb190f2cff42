#pragma once

// Asks the user for one folder, modally.

#include <QString>

#include <optional>

namespace platform {

class FolderChooser {
public:
    virtual ~FolderChooser() = default;

    static FolderChooser& shared();
    // Installs `chooser` (nullptr restores the default); returns the previous one.
    static FolderChooser* setShared(FolderChooser* chooser);

    // Runs a directory-only, single-selection panel whose default button reads `prompt`.
    // The chosen folder's absolute path; none when the user cancelled. Main thread only.
    virtual std::optional<QString> chooseDirectory(const QString& prompt) = 0;
};

// The toolkit's directory dialog.
class DialogFolderChooser final : public FolderChooser {
public:
    std::optional<QString> chooseDirectory(const QString& prompt) override;
};

}  // namespace platform
