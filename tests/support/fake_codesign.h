#pragma once

#include "platform/shell/codesign.h"
#include "platform/shell/main_bundle.h"

namespace testsupport {

// Scripted signature and main bundle. Installs both as shared while alive.
class FakeCodeSigning final : public platform::CodeSigning {
public:
    explicit FakeCodeSigning(platform::MainBundle bundle = platform::MainBundle(
                                 QStringLiteral("com.varnock.Quillvex"), QStringLiteral("/Applications/Quillvex.app")));
    ~FakeCodeSigning() override;
    FakeCodeSigning(const FakeCodeSigning&) = delete;
    FakeCodeSigning& operator=(const FakeCodeSigning&) = delete;

    std::optional<QString> code;
    std::optional<QString> team;
    platform::MainBundle bundle;
    mutable int reads = 0;

    std::optional<QString> codeIdentifier() const override {
        ++reads;
        return code;
    }
    std::optional<QString> teamIdentifier() const override {
        ++reads;
        return team;
    }

private:
    platform::CodeSigning* previousSigning_;
    const platform::MainBundle* previousBundle_;
};

}  // namespace testsupport
