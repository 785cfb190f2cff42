#include "platform/sharing/received_files.h"

#include "platform/sharing/obex_transfer_watch.h"

#include <memory>
#include <utility>

namespace platform {

namespace {
ReceivedFiles* installed = nullptr;
}

ReceivedFiles& ReceivedFiles::shared() {
    if (installed) return *installed;
    static auto* files = new ObexReceivedFiles();
    return *files;
}

ReceivedFiles* ReceivedFiles::setShared(ReceivedFiles* files) { return std::exchange(installed, files); }

AnyCancellable ObexReceivedFiles::observeReceived(Handler handler) {
    if (!bus_.isConnected()) return {};
    auto watch = std::make_shared<std::unique_ptr<ObexTransferWatch>>();
    *watch = std::make_unique<ObexTransferWatch>(bus_, [handler = std::move(handler)](const ObexTransferWatch::Ending& ending) {
        if (!ending.complete || !isIncomingTransfer(ending.path)) return;
        QString file = ending.properties.value(QStringLiteral("Filename")).toString();
        if (file.isEmpty()) file = ending.properties.value(QStringLiteral("Name")).toString();
        handler(file);
    });
    return AnyCancellable([watch] { watch->reset(); });
}

}  // namespace platform
