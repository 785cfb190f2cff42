// Feeds arbitrary bytes through what a fetched feed body goes through: the decoding, and for a
// record the version summary and the version order against an installed version.
#include "updater/app_update_info.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const AppUpdateInfo::Decoded decoded = AppUpdateInfo::decode(bytes);
    if (!decoded.info) return 0;
    const InstalledAppVersion installed{QStringLiteral("1.2.3"), 4};
    const InstalledAppVersion offered{decoded.info->version, decoded.info->build};
    (void)decoded.info->versionSummary();
    (void)(installed < offered);
    (void)(offered < installed);
    return 0;
}
