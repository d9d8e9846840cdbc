#pragma once

#include <string>

#include "common/MessageBoxes.h"

namespace quelvo {

// The standard message boxes of the desktop program: modal QMessageBox windows captioned with the
// application title, owned by the active window. A box asked for on another thread is shown on
// the window's thread while that thread waits.
class TQtMessageBoxes : public MessageBoxes {
public:
    void Info(const std::string& text) override;
    void Error(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    std::optional<bool> ConfirmOrClose(const std::string& text) override;
};

}  // namespace quelvo
