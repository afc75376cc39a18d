// One log pane of the main window: a text control that the operation log writes lines into.
// The operator may type into it; what is typed counts as lines like any other.
#pragma once

#include <QPlainTextEdit>
#include <QTimer>
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

    // Lines wait at most this long before a shown pane takes them in. A fast line logs some thirty
    // lines a second, and laying out and painting each one at once cost ten times the protocol
    // work; nobody reads faster than a tenth of a second.
    static constexpr int kShowEveryMs = 100;

  protected:
    void resizeEvent(QResizeEvent* e) override;

  private:
    void ShowLater();
    void ShowWaiting();
    void Insert(const std::vector<std::string>& lines);
    bool holding_ = false;
    bool clearWaiting_ = false;         // a Clear that the control has not seen yet
    std::vector<std::string> waiting_;  // at most 200 lines: the line rule still applies
    QTimer showTimer_;
    // After Clear the control holds no line at all; its document still shows one empty block.
    bool empty_ = false;
};

}  // namespace conv
