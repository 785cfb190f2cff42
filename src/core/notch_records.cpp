#include "core/notch_records.h"

QString NotchMode::description() const {
    QString name = caseName(kind_);
    if (activity_) name += QLatin1Char('(') + caseName(*activity_) + QLatin1Char(')');
    return name;
}

bool operator==(const NowPlayingInfo& a, const NowPlayingInfo& b) {
    if (a.title != b.title || a.artist != b.artist || a.album != b.album) return false;
    if (a.playbackRate != b.playbackRate) return false;
    if (a.bundleIdentifier != b.bundleIdentifier) return false;
    if (a.artwork.has_value() != b.artwork.has_value()) return false;
    // Different covers of the same size count as the same artwork; pixels are never compared.
    if (a.artwork && a.artwork->deviceIndependentSize() != b.artwork->deviceIndependentSize()) return false;
    return true;
}
