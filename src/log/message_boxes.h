// Message boxes of the application. Everything that tells the operator something in a box goes
// through this interface, so that tests can read each box and answer it without a modal loop.
#pragma once

#include <string>

namespace conv {

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    // A box with an OK button.
    virtual void Show(const std::string& text, const std::string& caption) = 0;
    // A box with OK and Cancel; true only when OK was chosen.
    virtual bool AskOkCancel(const std::string& text, const std::string& caption) = 0;
};

}  // namespace conv
