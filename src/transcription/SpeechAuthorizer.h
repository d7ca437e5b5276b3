#pragma once

#include <functional>

namespace vocalith {

// Permission to use speech recognition. Linux desktops ask for none, so the real
// authoriser always answers "authorized"; the other statuses exist for platforms
// that ask, and for tests.
class SpeechAuthorizer {
public:
    enum class Status { notDetermined, denied, restricted, authorized };

    virtual ~SpeechAuthorizer() = default;
    virtual Status status() const = 0;
    // Asks the user; the answer may come on any thread.
    virtual void requestAuthorization(std::function<void(Status)> answer) = 0;
};

class AlwaysAuthorized final : public SpeechAuthorizer {
public:
    Status status() const override { return Status::authorized; }
    void requestAuthorization(std::function<void(Status)> answer) override {
        answer(Status::authorized);
    }
};

} // namespace vocalith
