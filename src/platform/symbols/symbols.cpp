#include "platform/symbols/symbols.h"

#include "platform/logging/log_backend.h"

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <set>
#include <string_view>

namespace platform {

namespace {

struct Entry {
    std::string_view name;
    char32_t codepoint;
};

constexpr Entry table[] = {
#include "platform/symbols/symbol_table.inc"
};

constexpr bool sortedByName() {
    for (size_t i = 1; i < std::size(table); ++i) {
        if (!(table[i - 1].name < table[i].name)) return false;
    }
    return true;
}
static_assert(sortedByName(), "symbol table must be sorted and free of duplicates");

std::mutex mutex;

void reportUnknown(const QString& name) {
    static std::set<QString> reported;
    {
        std::lock_guard lock(mutex);
        if (!reported.insert(name).second) return;
    }
    auto& log = LogBackend::shared();
    if (log.isEnabled(LogLevel::Warning))
        log.write(LogLevel::Warning, QStringLiteral("Symbols: Unknown symbol name '%1'").arg(name));
}

}  // namespace

QString Symbols::fontPath() {
    return QStringLiteral("/usr/share/fonts/truetype/materialdesignicons-webfont/materialdesignicons-webfont.ttf");
}

std::optional<char32_t> Symbols::glyph(const QString& name) {
    const QByteArray key = name.toUtf8();
    const std::string_view wanted(key.constData(), size_t(key.size()));
    const auto it = std::lower_bound(std::begin(table), std::end(table), wanted,
                                     [](const Entry& entry, std::string_view text) { return entry.name < text; });
    if (it == std::end(table) || it->name != wanted) return std::nullopt;
    return it->codepoint;
}

QStringList Symbols::names() {
    QStringList result;
    for (const Entry& entry : table) result << QString::fromLatin1(entry.name.data(), qsizetype(entry.name.size()));
    return result;
}

std::optional<QString> Symbols::fontFamily() {
    // Loaded once; a failure is final too, so a missing font costs one attempt.
    static std::optional<QString> family;
    static bool attempted = false;
    std::lock_guard lock(mutex);
    if (!attempted && qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        attempted = true;
        const int id = QFontDatabase::addApplicationFont(fontPath());
        const QStringList families = id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
        if (!families.isEmpty()) family = families.first();
    }
    return family;
}

bool Symbols::canDraw(const QString& name) { return glyph(name).has_value() && fontFamily().has_value(); }

void Symbols::draw(QPainter& painter, const QString& name, const QRectF& rect, const QColor& color) {
    const std::optional<char32_t> codepoint = glyph(name);
    if (!codepoint) {
        reportUnknown(name);
        return;
    }
    const std::optional<QString> family = fontFamily();
    if (!family || rect.isEmpty()) return;

    QFont font(*family);
    font.setStyleStrategy(QFont::NoFontMerging);
    font.setPixelSize(std::max(1, int(rect.height())));
    painter.save();
    painter.setFont(font);
    painter.setPen(color);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const char32_t text[] = {*codepoint};
    painter.drawText(rect, Qt::AlignCenter, QString::fromUcs4(text, 1));
    painter.restore();
}

QImage Symbols::image(const QString& name, const QSize& size, const QColor& color) {
    if (!glyph(name)) {
        reportUnknown(name);
        return QImage();
    }
    if (!fontFamily() || size.isEmpty()) return QImage();
    QImage result(size, QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    draw(painter, name, QRectF(QPointF(0, 0), QSizeF(size)), color);
    painter.end();
    return result;
}

}  // namespace platform
