// Standard output and standard error as the service's log panes and message boxes. Each pane line
// goes to standard output behind its side ("MODBUS ", "VELT "), each box's text to standard error
// as one line; under systemd the journal stamps them, so the time is added only when asked for.
#pragma once

#include <string>

#include "log/message_boxes.h"
#include "log/operation_log.h"

namespace conv::service {

class Console {
  public:
    explicit Console(bool timestamps);

    // A line of standard output. When the reader does not keep up (a pipe or socket that is
    // full), the line is dropped rather than let the converter wait: the host's answers matter
    // more than their log. The next line that goes out is preceded, on standard error, by how
    // many were dropped.
    void Out(const std::string& line);
    // A line of standard error; a slow reader is waited for, up to a second.
    void Err(const std::string& line);

  private:
    std::string Stamped(const std::string& line) const;
    bool timestamps_;
    long dropped_ = 0;
};

// A side's pane. A stream never fills, so the pane reports no lines and the 200-line rule never
// clears it.
class ConsolePane : public LogPane {
  public:
    ConsolePane(Console& console, std::string prefix)
        : console_(console), prefix_(std::move(prefix)) {}
    int LineCount() const override { return 0; }
    void Clear() override {}
    void AppendLine(const std::string& text) override { console_.Out(prefix_ + text); }

  private:
    Console& console_;
    std::string prefix_;
};

// Boxes as lines of standard error. Nobody is there to answer, so a question gets Cancel, the
// answer that changes nothing.
class ConsoleBoxes : public MessageBoxes {
  public:
    explicit ConsoleBoxes(Console& console) : console_(console) {}
    void Show(const std::string& text, const std::string& caption) override;
    bool AskOkCancel(const std::string& text, const std::string& caption) override;

  private:
    Console& console_;
};

}  // namespace conv::service
