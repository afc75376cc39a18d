// Message boxes and modal dialogs for the GUI tests: every box is recorded and answered from a
// script, every modal showing runs a scripted action instead of a nested event loop.
#pragma once

#include <QDialog>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/app_services.h"

namespace conv::test {

struct Box {
    std::string text;
    std::string caption;
};

class RecordingBoxes : public MessageBoxes {
  public:
    void Show(const std::string& text, const std::string& caption) override {
        shown.push_back({text, caption});
    }
    bool AskOkCancel(const std::string& text, const std::string& caption) override {
        shown.push_back({text, caption});
        const bool ok = !answers.empty() && answers.front();
        if (!answers.empty()) answers.pop_front();
        return ok;
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> t;
        for (const Box& b : shown) t.push_back(b.text);
        return t;
    }

    std::vector<Box> shown;
    std::deque<bool> answers;  // for OK/Cancel boxes: true = OK; none left = Cancel
};

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
