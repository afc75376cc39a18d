#include "log/operation_log.h"

namespace conv {

std::string FormatDump(const uint8_t* data, int length) {
    static const char kHex[] = "0123456789abcdef";
    std::string s = std::to_string(length) + "  ";
    for (int i = 0; i < length && i < kDumpByteLimit; ++i) {
        const uint8_t b = data[i];
        if (b >= 0x10) s.push_back(kHex[b >> 4]);
        s.push_back(kHex[b & 0x0F]);
        s.push_back(' ');
    }
    return s;
}

void OperationLog::Add(LogPane& pane, const std::string& text) {
    if (LogEnabled != 0) Put(pane, text);
}

void OperationLog::Put(LogPane& pane, const std::string& text) {
    // The pane starts over rather than scrolling: an operator reads it as "the recent traffic".
    if (pane.LineCount() >= kMaxPaneLines) pane.Clear();
    pane.AppendLine(text);
}

}  // namespace conv
