#include "platform/shell/open_panel.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>

#include <memory>

namespace platform {

namespace {
OpenPanel* installed = nullptr;
}

OpenPanel& OpenPanel::shared() {
    static DialogOpenPanel fallback;
    return installed ? *installed : fallback;
}

OpenPanel* OpenPanel::setShared(OpenPanel* panel) {
    OpenPanel* previous = installed;
    installed = panel;
    return previous;
}

QString OpenPanel::startDirectory(const QString& requested) {
    const QFileInfo info(requested);
    if (!requested.isEmpty() && info.isDir()) return info.absoluteFilePath();
    return QDir::homePath();
}

void DialogOpenPanel::begin(const OpenPanelRequest& request, Completion completion) {
    auto* dialog = new QFileDialog(nullptr, request.title, startDirectory(request.directory));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::NonModal);
    // The toolkit's own dialog, so the message can sit inside it.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    if (request.canChooseDirectories && !request.canChooseFiles) {
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly, true);
    } else {
        dialog->setFileMode(request.allowsMultipleSelection ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    }
    if (!request.nameFilters.isEmpty()) dialog->setNameFilters(request.nameFilters);
    if (!request.message.isEmpty()) {
        auto* message = new QLabel(request.message, dialog);
        message->setWordWrap(true);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout())) {
            grid->addWidget(message, grid->rowCount(), 0, 1, grid->columnCount());
        }
    }
    auto shared = std::make_shared<Completion>(std::move(completion));
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, shared](int result) {
        if (!*shared) return;
        const Completion done = std::move(*shared);
        *shared = nullptr;
        if (result == QDialog::Accepted) {
            done(OpenPanelResponse::ok, dialog->selectedFiles());
        } else {
            done(OpenPanelResponse::cancel, {});
        }
    });
    dialog->show();
}

}  // namespace platform
