#include "platform/shell/codesign.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<CodeSigning*> installed{nullptr};
}  // namespace

CodeSigning& CodeSigning::shared() {
    if (CodeSigning* reader = installed.load()) return *reader;
    static auto* unsignedCode = new UnsignedCode();
    return *unsignedCode;
}

CodeSigning* CodeSigning::setShared(CodeSigning* reader) { return installed.exchange(reader); }

}  // namespace platform
