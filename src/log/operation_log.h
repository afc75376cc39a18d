// The operation log: text lines and frame dumps for the two panes of the main window (left: the
// MODBUS line, right: the host line). The formatting and the line rule live here; a pane is
// anything that can count, clear and append lines, so the widgets and the tests share this code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace conv {

class LogPane {
  public:
    virtual ~LogPane() = default;
    virtual int LineCount() const = 0;
    virtual void Clear() = 0;
    virtual void AppendLine(const std::string& text) = 0;
};

// A pane held in memory: what the tests, the simulators-side drivers and the fuzzers log into.
class MemoryPane : public LogPane {
  public:
    // Starts like the widget: one empty line.
    MemoryPane() : lines_{std::string()} {}
    int LineCount() const override { return static_cast<int>(lines_.size()); }
    void Clear() override { lines_.clear(); }
    void AppendLine(const std::string& text) override { lines_.push_back(text); }
    const std::vector<std::string>& Lines() const { return lines_; }

  private:
    std::vector<std::string> lines_;
};

inline constexpr int kMaxPaneLines = 200;
inline constexpr int kDumpByteLimit = 181;

// "4  50 3 0 a ": the full length, two blanks, then at most 181 bytes in lower-case hex.
std::string FormatDump(const uint8_t* data, int length);

class OperationLog {
  public:
    OperationLog(LogPane& modbusPane, LogPane& veltPane) : modbus_(modbusPane), velt_(veltPane) {}

    // 0 = nothing is logged, any other value = lines are added.
    int32_t LogEnabled = 0;

    void LogModbus(const std::string& text) { Add(modbus_, text); }
    void LogVelt(const std::string& text) { Add(velt_, text); }
    void DumpModbus(const uint8_t* data, int length) { Add(modbus_, FormatDump(data, length)); }
    void DumpVelt(const uint8_t* data, int length) { Add(velt_, FormatDump(data, length)); }

    // A line about the serial line itself (its device gone, back again), shown whatever the log
    // flag: it is rare, and an unattended converter must leave a trace of it.
    void NoticeModbus(const std::string& text) { Put(modbus_, text); }
    void NoticeVelt(const std::string& text) { Put(velt_, text); }

  private:
    void Add(LogPane& pane, const std::string& text);
    static void Put(LogPane& pane, const std::string& text);
    LogPane& modbus_;
    LogPane& velt_;
};

}  // namespace conv
