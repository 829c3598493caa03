// tests/support/ScriptedUser.h — a user of the join driver whose answers are
// scripted and whose messages are kept, for driver and window tests.
#pragma once

#include <string>
#include <vector>

#include "app/JoinDriver.h"

namespace tw::test {

struct ScriptedUser : TJoinUser {
    bool Answer = false;  ///< the answer to every yes/no question
    std::vector<std::string> Asked, Told;
    bool AskYesNo(const std::string& text) override {
        Asked.push_back(text);
        return Answer;
    }
    void Tell(const std::string& text) override { Told.push_back(text); }
    void SetStateText(const std::string&) override {}
    /// The last message, or "" when none was given.
    std::string Last() const { return Told.empty() ? "" : Told.back(); }
};

}  // namespace tw::test
