#pragma once

#include <QByteArray>
#include <QStringList>

#include <vector>

namespace platform {

// A folder of an icon theme as its index.theme describes it (the freedesktop icon theme rules).
struct ThemeFolder {
    QByteArray name;  // as the index spells it, relative to the theme's folder
    enum class Type { fixed, scalable, threshold };
    Type type = Type::threshold;
    int size = 0, minSize = 0, maxSize = 0, threshold = 2, scale = 1;

    // Whether it holds icons for `pixels`, and how far from them its sizes lie.
    bool matches(int pixels) const;
    int distance(int pixels) const;
};

struct ThemeIndex {
    QStringList inherits;
    std::vector<ThemeFolder> folders;  // in the order the index lists them; those without a size left out
};

// The index.theme text `bytes`. The largest themes list ten thousand folders: read in one pass.
ThemeIndex parseThemeIndex(const QByteArray& bytes);

}  // namespace platform
