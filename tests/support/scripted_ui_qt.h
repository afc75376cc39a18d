// Implementation of ScriptedDialogs::Run; included once by each GUI test executable.
#pragma once

#include <QDialog>

#include "support/scripted_ui.h"

namespace conv::test {

inline void ScriptedDialogs::Run(QDialog& dialog) {
    shownDialogs.push_back(&dialog);
    dialog.setModal(true);
    dialog.show();
    if (!actions.empty()) {
        Action a = std::move(actions.front());
        actions.pop_front();
        if (a) a(dialog);
    }
    if (dialog.isVisible()) dialog.close();
}

}  // namespace conv::test
