// The real boxes and the real modal showing, for the running program.
#pragma once

#include "app/app_services.h"

class QWidget;

namespace conv {

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
