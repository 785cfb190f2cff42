#pragma once

#include <QByteArray>

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace platform {

// The icon-theme.cache that gtk-update-icon-cache writes into a theme's folder: for each icon name,
// the theme's folders that hold it and as which kinds of file. A lookup asks it instead of reading
// the folders, which for a theme of thousands of icons costs far more. A cache cut short or damaged
// anywhere is refused whole.
class IconThemeCache {
public:
    enum Kind { png = 1, svg = 2, xpm = 4 };

    // None unless `bytes` begin as a cache of format 1 does.
    static std::optional<IconThemeCache> parse(QByteArray bytes);

    // The kinds of file (a mask of Kind) that the theme's folder `folder` (as the index names it)
    // holds for `name`; 0 when none, or when the cache does not know the folder.
    int kinds(std::string_view name, std::string_view folder) const;

private:
    bool whole(quint32 folders) const;
    std::optional<quint32> card32(quint32 offset) const;
    std::optional<quint16> card16(quint32 offset) const;
    std::optional<std::string_view> text(quint32 offset) const;

    QByteArray bytes_;
    quint32 hashOffset_ = 0;
    std::unordered_map<std::string, quint16> folders_;
};

}  // namespace platform
