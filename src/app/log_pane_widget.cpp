#include "app/log_pane_widget.h"

#include <QTextBlock>
#include <QTextCursor>

namespace conv {

LogPaneWidget::LogPaneWidget(QWidget* parent) : QPlainTextEdit(parent) {
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, QColor(0xF9, 0xFC, 0xFF));  // 0xFFFCF9 as blue-green-red
    pal.setColor(QPalette::Text, Qt::black);
    setPalette(pal);
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPixelSize(11);
    setFont(f);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (!document()->isEmpty()) empty_ = false;
    });
}

int LogPaneWidget::LineCount() const {
    const int shown = empty_ || clearedWhileHeld_ ? 0 : document()->blockCount();
    return shown + static_cast<int>(held_.size());
}

void LogPaneWidget::Clear() {
    if (holding_) {
        held_.clear();
        clearedWhileHeld_ = true;
        return;
    }
    clear();
    empty_ = true;
}

void LogPaneWidget::AppendLine(const std::string& text) {
    if (holding_) {
        held_.push_back(text);
        return;
    }
    Insert(text);
}

void LogPaneWidget::SetHolding(bool hold) {
    if (hold == holding_) return;
    holding_ = hold;
    if (hold) return;
    if (clearedWhileHeld_) {
        clear();
        empty_ = true;
    }
    clearedWhileHeld_ = false;
    for (const std::string& line : held_) Insert(line);
    held_.clear();
}

void LogPaneWidget::Insert(const std::string& text) {
    QTextCursor c(document());
    c.movePosition(QTextCursor::End);
    if (!empty_) c.insertBlock();
    c.insertText(QString::fromStdString(text));
    empty_ = false;
    // Keep the newest line in view, like the control it replaces.
    QTextCursor view = textCursor();
    view.movePosition(QTextCursor::End);
    setTextCursor(view);
}

}  // namespace conv
