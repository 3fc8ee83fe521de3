#pragma once

#include "FakeAccountSession.hpp"
#include "FakeHistoryModel.hpp"
#include "FakePeopleModel.hpp"
#include "FakeShellSession.hpp"
#include "WindowHarness.hpp"

namespace lumora::testing {

// The shell's session and the models of its pages, all fakes, wired together.
struct FakeShell {
    FakeShell()
    {
        session.accountSession = &account;
        session.historyModel = &history;
        session.peopleModel = &people;
    }
    FakeShell(const FakeShell&) = delete;
    FakeShell& operator=(const FakeShell&) = delete;

    FakeAccountSession account;
    FakeHistoryModel history;
    FakePeopleModel people;
    FakeShellSession session;
};

// The real window over those fakes; the window goes first, before the objects it reads.
struct FakeShellWindow {
    [[nodiscard]] int section() const { return shell.content()->property("section").toInt(); }

    FakeShell fakes;
    FakeAccountSession& account = fakes.account;
    FakeHistoryModel& history = fakes.history;
    FakeShellSession& session = fakes.session;
    WindowHarness shell;
};

} // namespace lumora::testing
