#pragma once

#include "platform/files/user_folders.h"

namespace testsupport {

// Fixed answers for the user's standard folders.
class FakeUserFolders final : public platform::UserFolders {
public:
    QString home;
    QString downloads;
    std::optional<QString> screenshots;

    QString homeDirectory() const override { return home; }
    QString downloadDirectory() const override { return downloads; }
    std::optional<QString> screenshotLocation() const override { return screenshots; }
};

}  // namespace testsupport
