#include "support/fake_codesign.h"

namespace testsupport {

FakeCodeSigning::FakeCodeSigning(platform::MainBundle bundle)
    : bundle(std::move(bundle)),
      previousSigning_(platform::CodeSigning::setShared(this)),
      previousBundle_(platform::MainBundle::setShared(&this->bundle)) {}

FakeCodeSigning::~FakeCodeSigning() {
    platform::MainBundle::setShared(previousBundle_);
    platform::CodeSigning::setShared(previousSigning_);
}

}  // namespace testsupport
