#pragma once

// Qt's own texts (the network layer's errors, the buttons and messages of its dialogs) in the
// interface language: Qt's Japanese translations are installed while the application's texts are
// Japanese, and removed again when the language setting turns to English.

#include "platform/runtime/reactive.h"
#include "platform/storage/defaults.h"

#include <QString>
#include <QTranslator>

#include <memory>

class QtTranslation {
public:
    // Applies the language now and at every change of the language key. Main thread only.
    explicit QtTranslation(platform::Defaults& defaults = platform::Defaults::standard());
    ~QtTranslation();
    QtTranslation(const QtTranslation&) = delete;
    QtTranslation& operator=(const QtTranslation&) = delete;

    // Whether Qt's Japanese texts are installed now.
    bool isInstalled() const { return installed_; }

    // Where Qt keeps its translations.
    static QString folder();

private:
    void apply();

    std::unique_ptr<QTranslator> japanese_;  // loaded at the first need, kept for later changes
    bool installed_ = false;
    platform::AnyCancellable subscription_;
};
