// One log pane of the main window: a text control that the operation log writes lines into.
// The operator may type into it; what is typed counts as lines like any other.
#pragma once

#include <QPlainTextEdit>
#include <string>
#include <vector>

#include "log/operation_log.h"

namespace conv {

class LogPaneWidget : public QPlainTextEdit, public LogPane {
    Q_OBJECT
  public:
    explicit LogPaneWidget(QWidget* parent = nullptr);

    int LineCount() const override;
    void Clear() override;
    void AppendLine(const std::string& text) override;

    // While the window is minimised nobody reads the pane, and laying out text at the host's
    // rate would cost more than all the protocol work: the lines are held and shown at restore.
    void SetHolding(bool hold);

  protected:
    void resizeEvent(QResizeEvent* e) override;

  private:
    void Insert(const std::string& text);
    bool holding_ = false;
    bool clearedWhileHeld_ = false;
    std::vector<std::string> held_;  // at most 200 lines: the line rule still applies
    // After Clear the control holds no line at all; its document still shows one empty block.
    bool empty_ = false;
};

}  // namespace conv
