#include "platform/sharing/sharing_service.h"

#include "platform/sharing/obex_sharing_services.h"

namespace platform {

namespace {
SharingServices* installed = nullptr;
}

SharingServices& SharingServices::shared() {
    if (installed) return *installed;
    static auto* services = new ObexSharingServices();
    return *services;
}

SharingServices* SharingServices::setShared(SharingServices* services) {
    SharingServices* previous = installed;
    installed = services;
    return previous;
}

}  // namespace platform
