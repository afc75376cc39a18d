// Message boxes for tests: every box is recorded, and an OK/Cancel box is answered from a script.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "log/message_boxes.h"

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

}  // namespace conv::test
