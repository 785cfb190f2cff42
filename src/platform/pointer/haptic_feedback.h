#pragma once

// Haptic feedback of the pointing device. Desktop pointing devices here have no actuator, so the
// default performer does nothing; a test installs one that counts.

#include <cstdint>

namespace platform {

enum class HapticPattern { generic, alignment, levelChange };

class HapticFeedbackPerformer {
public:
    virtual ~HapticFeedbackPerformer() = default;

    static HapticFeedbackPerformer& shared();
    // Installs `performer` (nullptr restores the default); returns the previous one.
    static HapticFeedbackPerformer* setShared(HapticFeedbackPerformer* performer);

    // At the default performance time (now).
    virtual void perform(HapticPattern pattern) = 0;
};

// No actuator: nothing happens.
class SilentHapticFeedbackPerformer final : public HapticFeedbackPerformer {
public:
    void perform(HapticPattern) override {}
};

}  // namespace platform
