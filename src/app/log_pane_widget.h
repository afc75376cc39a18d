// One log pane of the main window: a text control that the operation log writes lines into.
// The operator may type into it; what is typed counts as lines like any other.
#pragma once

#include <QPlainTextEdit>

#include "app/operation_log.h"

namespace conv {

class LogPaneWidget : public QPlainTextEdit, public LogPane {
    Q_OBJECT
  public:
    explicit LogPaneWidget(QWidget* parent = nullptr);

    int LineCount() const override;
    void Clear() override;
    void AppendLine(const std::string& text) override;

  private:
    // After Clear the control holds no line at all; its document still shows one empty block.
    bool empty_ = false;
};

}  // namespace conv
