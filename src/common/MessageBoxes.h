#pragma once

#include <memory>
#include <optional>
#include <string>

namespace quelvo {

// The three standard message boxes, all captioned with the application title. The core calls
// them through this interface; each program installs its own (the desktop program shows real
// boxes). The default writes the text to standard error and answers No.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void Info(const std::string& text) = 0;
    virtual void Error(const std::string& text) = 0;
    virtual bool Confirm(const std::string& text) = 0;
    // The same question, telling a "Não" (false) from a box closed with no answer at all, as
    // when the program ends while it is open (nothing). Boxes that cannot be closed so answer as
    // Confirm does.
    virtual std::optional<bool> ConfirmOrClose(const std::string& text) { return Confirm(text); }
};

// Installs the boxes every later call uses; an empty pointer restores the default.
// Returns the previous ones.
std::shared_ptr<MessageBoxes> InstallMessageBoxes(std::shared_ptr<MessageBoxes> boxes);

void ShowInfo(const std::string& text);
void ShowError(const std::string& text);
bool Confirm(const std::string& text);
std::optional<bool> ConfirmOrClose(const std::string& text);

}  // namespace quelvo
