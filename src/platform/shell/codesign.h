#pragma once

#include <QString>

#include <optional>

namespace platform {

// The static code signature of the running bundle. Each read is done afresh.
class CodeSigning {
public:
    virtual ~CodeSigning() = default;

    // The process-wide reader (the Linux one unless a test installed another).
    static CodeSigning& shared();
    // Installs `reader` (nullptr restores the default); returns the previous one.
    static CodeSigning* setShared(CodeSigning* reader);

    // Absent when there is no signature or it carries no such entry.
    virtual std::optional<QString> codeIdentifier() const = 0;
    virtual std::optional<QString> teamIdentifier() const = 0;
};

// Linux builds are not signed.
class UnsignedCode final : public CodeSigning {
public:
    std::optional<QString> codeIdentifier() const override { return std::nullopt; }
    std::optional<QString> teamIdentifier() const override { return std::nullopt; }
};

}  // namespace platform
