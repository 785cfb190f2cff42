// Feeds arbitrary bytes through the record decoding a polled row goes through: the property-list
// reader and, when it yields a dictionary, the bundle identifier, text choice, sender's icon and
// debug dump.
#include "detection/notification_record_decoder.h"
#include "detection/property_list.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString error;
    auto root = PropertyList::parse(bytes, &error);
    if (!root) return 0;
    if (root->isDictionary()) {
        auto bundleId = NotificationRecordDecoder::extractBundleId(*root);
        auto message = NotificationRecordDecoder::chooseMessage(*root, bundleId);
        NotificationRecordDecoder::senderIcon(*root);
        if (NotificationRecordDecoder::isGenericNotificationMessage(message))
            NotificationRecordDecoder::potentialMessageFieldLines(*root, bundleId);
    }
    return 0;
}
