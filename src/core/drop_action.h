#pragma once

// What can be done with files dropped on the notch, in the order the drop picker lays them out.

#include "core/enum_cases.h"

#include <QString>

enum class DropAction { airdrop, copyToFolder, convertImage, convertVideo };

template <>
struct EnumCases<DropAction> {
    static constexpr bool hasRawValue = true;
    static constexpr std::array<std::pair<DropAction, const char*>, 4> table{{
        {DropAction::airdrop, "airdrop"},
        {DropAction::copyToFolder, "copyToFolder"},
        {DropAction::convertImage, "convertImage"},
        {DropAction::convertVideo, "convertVideo"},
    }};
};

// The title in the language in force now.
QString title(DropAction action);
