#include "core/qt_translation.h"

#include "core/l10n.h"
#include "core/log.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

QtTranslation::QtTranslation(platform::Defaults& defaults) {
    subscription_ = defaults.didChange().sink([this](const QString& key) {
        if (key == L10n::languageKey) apply();
    });
    apply();
}

QtTranslation::~QtTranslation() {
    if (installed_) QCoreApplication::removeTranslator(japanese_.get());
}

QString QtTranslation::folder() { return QLibraryInfo::path(QLibraryInfo::TranslationsPath); }

void QtTranslation::apply() {
    const bool wanted = L10n::isJapanese();
    if (wanted == installed_) return;
    if (!wanted) {
        QCoreApplication::removeTranslator(japanese_.get());
        installed_ = false;
        return;
    }
    if (!japanese_) {
        auto translator = std::make_unique<QTranslator>();
        // Only Qt's base module shows texts of its own here.
        if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"), QStringLiteral("_"),
                              folder())) {
            Log::shared().warning(QStringLiteral("Qt's Japanese texts not found in ") + folder() +
                                  QStringLiteral("; Qt's own messages stay English"));
            return;
        }
        japanese_ = std::move(translator);
    }
    installed_ = QCoreApplication::installTranslator(japanese_.get());
}
