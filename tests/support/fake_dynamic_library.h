#pragma once

#include "platform/dynamic_library/dynamic_library.h"

#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <string>

namespace testsupport {

// Libraries that exist only in the test: a path maps to a table of symbol name -> address.
// Paths without a table fail to load. Every load and every lookup is recorded.
class FakeDynamicLibraryLoader final : public platform::DynamicLibraryLoader {
public:
    using Symbols = std::map<std::string, void*>;

    void addLibrary(const QString& path, Symbols symbols) { libraries_[path] = std::move(symbols); }
    std::shared_ptr<platform::DynamicLibrary> load(const QString& path, QString* error = nullptr) override;

    const QStringList& loadedPaths() const { return loadedPaths_; }
    const QStringList& lookedUp() const { return lookedUp_; }

private:
    std::map<QString, Symbols> libraries_;
    QStringList loadedPaths_;
    QStringList lookedUp_;
};

}  // namespace testsupport
