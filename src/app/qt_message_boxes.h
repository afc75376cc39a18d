// The real boxes and the real modal showing, for the running program.
#pragma once

#include <QMessageBox>
#include <memory>

#include "app/app_services.h"

namespace conv {

// The box as the program shows it, not yet shown: the tests look at what the window system
// makes of it.
std::unique_ptr<QMessageBox> MakeMessageBox(QMessageBox::Icon icon, const std::string& text,
                                            const std::string& caption,
                                            QMessageBox::StandardButtons buttons);

class QtMessageBoxes : public MessageBoxes {
  public:
    void Show(const std::string& text, const std::string& caption) override;
    bool AskOkCancel(const std::string& text, const std::string& caption) override;
};

class ExecDialogRunner : public DialogRunner {
  public:
    void Run(QDialog& dialog) override;
};

}  // namespace conv
