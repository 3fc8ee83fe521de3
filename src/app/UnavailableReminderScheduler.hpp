#pragma once

#include "viewmodel/CheckinReminderScheduler.hpp"

namespace lumora {

// The reminder scheduler of a desktop without a way to notify: permission is refused and
// nothing is ever scheduled.
class UnavailableReminderScheduler final : public CheckinReminderScheduler {
public:
    QCoro::Task<bool> requestPermission() override { co_return false; }
    QCoro::Task<void> schedule(QDateTime) override { co_return; }
    QCoro::Task<void> removePending() override { co_return; }
};

} // namespace lumora
