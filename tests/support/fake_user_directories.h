#pragma once

#include "platform/files/user_directories.h"

#include <optional>
#include <string>

namespace testsupport {

// Fixed answers for the user's directories.
class FakeUserDirectories final : public platform::UserDirectories {
public:
    QString home;
    QString passwordHome;
    std::optional<std::string> perUser;
    bool sandboxContainerId = false;

    QString homeDirectory() const override { return home; }
    QString passwordDatabaseHome() const override { return passwordHome; }
    std::optional<std::string> perUserDirectory() const override { return perUser; }
    bool hasSandboxContainerId() const override { return sandboxContainerId; }
};

}  // namespace testsupport
