#include "common/MessageBoxes.h"

#include <iostream>
#include <mutex>

namespace quelvo {

namespace {

class ConsoleMessageBoxes : public MessageBoxes {
public:
    void Info(const std::string& text) override { Write(text); }
    void Error(const std::string& text) override { Write(text); }
    bool Confirm(const std::string& text) override {
        Write(text);
        return false;
    }

private:
    static void Write(const std::string& text) { std::cerr << text << std::endl; }
};

std::mutex gMutex;
std::shared_ptr<MessageBoxes> gBoxes;

std::shared_ptr<MessageBoxes> Current() {
    std::lock_guard lock(gMutex);
    if (!gBoxes) {
        gBoxes = std::make_shared<ConsoleMessageBoxes>();
    }
    return gBoxes;
}

}  // namespace

std::shared_ptr<MessageBoxes> InstallMessageBoxes(std::shared_ptr<MessageBoxes> boxes) {
    std::lock_guard lock(gMutex);
    auto previous = gBoxes;
    gBoxes = std::move(boxes);
    return previous;
}

// The box runs outside the lock: a modal box may take long, and another thread may show one.
void ShowInfo(const std::string& text) {
    Current()->Info(text);
}
void ShowError(const std::string& text) {
    Current()->Error(text);
}
bool Confirm(const std::string& text) {
    return Current()->Confirm(text);
}
std::optional<bool> ConfirmOrClose(const std::string& text) {
    return Current()->ConfirmOrClose(text);
}

}  // namespace quelvo
