#pragma once

// Carries out one drop action on the dropped files: share them, copy them into a folder the user
// picks, or convert each one. Every outcome goes to the log only.

#include "core/drop_action.h"
#include "drop/file_converter_service.h"
#include "platform/runtime/dispatch.h"
#include "platform/sharing/sharing_service.h"
#include "platform/shell/folder_chooser.h"

#include <QList>
#include <QUrl>

#include <optional>

class DropService {
public:
    explicit DropService(FileConverterService& converter = FileConverterService::shared(),
                         platform::SharingServices& sharing = platform::SharingServices::shared(),
                         platform::FolderChooser& folderChooser = platform::FolderChooser::shared(),
                         platform::Scheduler& scheduler = platform::Scheduler::shared());
    static DropService& shared();

    void perform(DropAction action, const QList<QUrl>& urls);

    // Copies one item to `folder` under its own name, replacing what is there only once the copy
    // is whole; pipes, sockets and devices are refused, and left out of folders. The failure's
    // description; none on success. Blocking: never on the main thread.
    static std::optional<QString> copyItem(const QString& source, const QString& folder);

private:
    void performAirDrop(const QList<QUrl>& urls);
    void performCopyToFolder(const QList<QUrl>& urls);
    void performConvertImage(const QList<QUrl>& urls);
    void performConvertVideo(const QList<QUrl>& urls);

    FileConverterService& converter_;
    platform::SharingServices& sharing_;
    platform::FolderChooser& folderChooser_;
    platform::Scheduler& scheduler_;
};
