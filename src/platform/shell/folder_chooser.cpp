#include "platform/shell/folder_chooser.h"

#include <QFileDialog>

namespace platform {

namespace {
FolderChooser* installed = nullptr;
}

FolderChooser& FolderChooser::shared() {
    static DialogFolderChooser fallback;
    return installed ? *installed : fallback;
}

FolderChooser* FolderChooser::setShared(FolderChooser* chooser) {
    FolderChooser* previous = installed;
    installed = chooser;
    return previous;
}

std::optional<QString> DialogFolderChooser::chooseDirectory(const QString& prompt) {
    QFileDialog dialog;
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setLabelText(QFileDialog::Accept, prompt);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
    return chosen.front();
}

}  // namespace platform
