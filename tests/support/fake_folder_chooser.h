#pragma once

#include "platform/shell/folder_chooser.h"

#include <QString>

#include <optional>
#include <vector>

namespace testsupport {

// Answers every folder request with `answer` (none: the user cancelled) and records the prompts.
class FakeFolderChooser final : public platform::FolderChooser {
public:
    std::optional<QString> answer;
    std::vector<QString> prompts;

    std::optional<QString> chooseDirectory(const QString& prompt) override {
        prompts.push_back(prompt);
        return answer;
    }
};

}  // namespace testsupport
