#pragma once

#include "platform/process/child_process.h"

namespace platform {

// posix_spawn with pipes, poll() for every wait and pidfd for exits: no event loop, no thread
// affinity. Writes block SIGPIPE in the writing thread only and swallow the one they caused, so
// the process's signal dispositions are left alone and children start with default ones.
class PosixProcessLauncher final : public ProcessLauncher {
public:
    std::unique_ptr<ChildProcess> start(const ProcessSpec& spec, QString* errorText = nullptr) override;
    ProcessResult run(const ProcessSpec& spec, double timeoutSeconds,
                      std::size_t outputLimit = kDefaultOutputLimit) override;
    std::optional<long long> startDetached(const ProcessSpec& spec, QString* errorText = nullptr) override;
};

}  // namespace platform
