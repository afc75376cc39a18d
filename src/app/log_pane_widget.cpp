#include "app/log_pane_widget.h"

#include <QScrollBar>
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
    showTimer_.setSingleShot(true);
    showTimer_.setInterval(kShowEveryMs);
    connect(&showTimer_, &QTimer::timeout, this, &LogPaneWidget::ShowWaiting);
}

int LogPaneWidget::LineCount() const {
    const int shown = empty_ || clearWaiting_ ? 0 : document()->blockCount();
    return shown + static_cast<int>(waiting_.size());
}

void LogPaneWidget::Clear() {
    waiting_.clear();
    clearWaiting_ = true;
    ShowLater();
}

void LogPaneWidget::AppendLine(const std::string& text) {
    waiting_.push_back(text);
    ShowLater();
}

// What was logged while the window was shown is in the control when it is minimised.
void LogPaneWidget::SetHolding(bool hold) {
    if (hold == holding_) return;
    if (hold) ShowWaiting();
    holding_ = hold;
    if (!hold) ShowWaiting();
}

// A pane that is not on screen draws nothing, and whoever reads it expects every line at once.
void LogPaneWidget::ShowLater() {
    if (holding_) return;
    if (!isVisible()) {
        ShowWaiting();
    } else if (!showTimer_.isActive()) {
        showTimer_.start();
    }
}

void LogPaneWidget::ShowWaiting() {
    showTimer_.stop();
    if (clearWaiting_) {
        clear();
        empty_ = true;
    }
    clearWaiting_ = false;
    if (waiting_.empty()) return;
    Insert(waiting_);
    waiting_.clear();
}

// A view following the end keeps following when the pane gets shorter.
void LogPaneWidget::resizeEvent(QResizeEvent* e) {
    QScrollBar* down = verticalScrollBar();
    const bool atEnd = down->value() == down->maximum();
    QPlainTextEdit::resizeEvent(e);
    if (atEnd) down->setValue(down->maximum());
}

void LogPaneWidget::Insert(const std::vector<std::string>& lines) {
    QScrollBar* down = verticalScrollBar();
    QScrollBar* across = horizontalScrollBar();
    // New lines are followed only while the operator is not reading back or copying: with the
    // view scrolled up, or text selected, the view and the selection stay where they are.
    QTextCursor view = textCursor();
    const bool follow = down->value() == down->maximum() && !view.hasSelection();
    const int anchor = view.anchor();
    const int position = view.position();
    const int downAt = down->value();
    const int acrossAt = across->value();
    QTextCursor c(document());
    c.movePosition(QTextCursor::End);
    c.beginEditBlock();  // laid out once
    for (const std::string& text : lines) {
        if (!empty_) c.insertBlock();
        c.insertText(QString::fromStdString(text));
        empty_ = false;
    }
    c.endEditBlock();
    view = textCursor();
    if (follow) {
        view.movePosition(QTextCursor::End);
        setTextCursor(view);
        down->setValue(down->maximum());
        return;
    }
    // A selection reaching the end would grow with the line inserted there.
    if (view.anchor() != anchor || view.position() != position) {
        view.setPosition(anchor);
        view.setPosition(position, QTextCursor::KeepAnchor);
        setTextCursor(view);
    }
    down->setValue(downAt);
    across->setValue(acrossAt);
}

}  // namespace conv
