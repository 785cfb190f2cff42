#include "platform/sharing/sharing_service.h"

namespace platform {

namespace {
SharingServices* installed = nullptr;
}

SharingServices& SharingServices::shared() {
    static UnavailableSharingServices fallback;
    return installed ? *installed : fallback;
}

SharingServices* SharingServices::setShared(SharingServices* services) {
    SharingServices* previous = installed;
    installed = services;
    return previous;
}

}  // namespace platform
