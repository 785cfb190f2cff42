#include "support/fake_dynamic_library.h"

namespace testsupport {

namespace {
class FakeLibrary final : public platform::DynamicLibrary {
public:
    FakeLibrary(FakeDynamicLibraryLoader::Symbols symbols, QStringList& lookedUp)
        : symbols_(std::move(symbols)), lookedUp_(lookedUp) {}
    void* symbol(const char* name) const override {
        lookedUp_.append(QString::fromLatin1(name));
        const auto it = symbols_.find(name);
        return it == symbols_.end() ? nullptr : it->second;
    }

private:
    FakeDynamicLibraryLoader::Symbols symbols_;
    QStringList& lookedUp_;
};
}  // namespace

std::shared_ptr<platform::DynamicLibrary> FakeDynamicLibraryLoader::load(const QString& path, QString* error) {
    loadedPaths_.append(path);
    const auto it = libraries_.find(path);
    if (it == libraries_.end()) {
        if (error) *error = path + QStringLiteral(": cannot open shared object file");
        return nullptr;
    }
    return std::make_shared<FakeLibrary>(it->second, lookedUp_);
}

}  // namespace testsupport
