#include "core/drop_action.h"

#include "core/l10n.h"

QString title(DropAction action) {
    switch (action) {
    case DropAction::airdrop: return L10n::sendViaBluetooth();
    case DropAction::copyToFolder: return L10n::copyToFolder();
    case DropAction::convertImage: return L10n::convertImage();
    case DropAction::convertVideo: return L10n::convertVideo();
    }
    return QString();
}
