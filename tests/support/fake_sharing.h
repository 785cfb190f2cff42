#pragma once

#include "platform/sharing/sharing_service.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <memory>
#include <vector>

namespace testsupport {

// One scripted sharing service: says whether it can take the items and records what it was given.
class FakeSharingService final : public platform::SharingService {
public:
    bool accepts = true;
    std::vector<QList<QUrl>> performed;

    bool canPerform(const QList<QUrl>&) const override { return accepts; }
    void perform(const QList<QUrl>& items) override { performed.push_back(items); }
};

// Offers `service` under every name it is asked for, or nothing while it is null.
class FakeSharingServices final : public platform::SharingServices {
public:
    std::shared_ptr<FakeSharingService> offered;
    std::vector<QString> requested;

    std::shared_ptr<platform::SharingService> service(const QString& name) override {
        requested.push_back(name);
        return offered;
    }
};

}  // namespace testsupport
