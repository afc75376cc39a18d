// Modal dialogs for the GUI tests: every modal showing runs a scripted action instead of a nested
// event loop.
#pragma once

#include <QDialog>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/app_services.h"
#include "support/recording_boxes.h"

namespace conv::test {

// Runs each modal showing as: the dialog's show (so its FormShow runs), then the next scripted
// action for that dialog (or none), then, if the action left it open, a close as by its close box.
class ScriptedDialogs : public DialogRunner {
  public:
    using Action = std::function<void(QDialog&)>;
    void Run(QDialog& dialog) override {
        shownDialogs.push_back(&dialog);
        dialog.setModal(true);
        dialog.show();
        if (!actions.empty()) {
            const Action a = std::move(actions.front());
            actions.pop_front();
            if (a) a(dialog);
        }
        if (dialog.isVisible()) dialog.close();
    }
    void Then(Action a) { actions.push_back(std::move(a)); }

    std::deque<Action> actions;
    std::vector<QDialog*> shownDialogs;
};

}  // namespace conv::test
