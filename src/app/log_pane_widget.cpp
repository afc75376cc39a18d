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
    return empty_ ? 0 : document()->blockCount();
}

void LogPaneWidget::Clear() {
    clear();
    empty_ = true;
}

void LogPaneWidget::AppendLine(const std::string& text) {
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
