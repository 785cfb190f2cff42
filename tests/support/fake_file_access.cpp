#include "support/fake_file_access.h"

namespace testsupport {

void FakeFileAccessProbe::deny(const QString& path) {
    setExists(path, true);
    setReadable(path, true);
    setOpenError(path, QStringLiteral("Operation not permitted"));
    failSqliteOpen(path, 23 /* SQLITE_AUTH */, QStringLiteral("authorization denied"));
}

const FakeFileAccessProbe::Script* FakeFileAccessProbe::script(const QString& path) const {
    auto found = scripts_.find(path);
    return found == scripts_.end() ? nullptr : &found->second;
}

bool FakeFileAccessProbe::exists(const QString& path) const {
    const Script* s = script(path);
    return s && s->exists ? *s->exists : system_.exists(path);
}

bool FakeFileAccessProbe::isReadable(const QString& path) const {
    const Script* s = script(path);
    return s && s->readable ? *s->readable : system_.isReadable(path);
}

std::optional<QString> FakeFileAccessProbe::openForReading(const QString& path) const {
    const Script* s = script(path);
    return s && s->openError ? s->openError : system_.openForReading(path);
}

platform::FileAccessProbe::SqliteOpenResult FakeFileAccessProbe::openSqliteReadOnly(const QString& path) const {
    const Script* s = script(path);
    return s && s->sqlite ? *s->sqlite : system_.openSqliteReadOnly(path);
}

}  // namespace testsupport
