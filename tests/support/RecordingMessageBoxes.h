#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/MessageBoxes.h"

namespace quelvo::test {

// Message boxes that record what they were asked to show and answer Confirm as told. Installed
// for the life of the object.
class RecordingMessageBoxes : public MessageBoxes {
public:
    struct Shown {
        std::string kind;  // "info", "error" or "confirm"
        std::string text;
    };

    ~RecordingMessageBoxes() override = default;

    void Info(const std::string& text) override { Record("info", text); }
    void Error(const std::string& text) override { Record("error", text); }
    bool Confirm(const std::string& text) override {
        Record("confirm", text);
        return confirmAnswer;
    }
    std::optional<bool> ConfirmOrClose(const std::string& text) override {
        Record("confirm", text);
        return closedUnanswered ? std::nullopt : std::optional<bool>(confirmAnswer);
    }

    std::vector<Shown> All() const {
        std::lock_guard lock(mutex_);
        return shown_;
    }

    bool confirmAnswer = false;
    // ConfirmOrClose answers as a box that the program's end closed.
    bool closedUnanswered = false;

private:
    void Record(const char* kind, const std::string& text) {
        std::lock_guard lock(mutex_);
        shown_.push_back({kind, text});
    }
    mutable std::mutex mutex_;
    std::vector<Shown> shown_;
};

// Installs recording boxes for one scope and puts the previous ones back at its end.
class ScopedMessageBoxes {
public:
    explicit ScopedMessageBoxes(bool confirmAnswer = false)
        : boxes_(std::make_shared<RecordingMessageBoxes>()) {
        boxes_->confirmAnswer = confirmAnswer;
        previous_ = InstallMessageBoxes(boxes_);
    }
    ~ScopedMessageBoxes() { InstallMessageBoxes(previous_); }
    RecordingMessageBoxes& operator*() { return *boxes_; }
    RecordingMessageBoxes* operator->() { return boxes_.get(); }

private:
    std::shared_ptr<RecordingMessageBoxes> boxes_;
    std::shared_ptr<MessageBoxes> previous_;
};

}  // namespace quelvo::test
