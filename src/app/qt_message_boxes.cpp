#include "app/qt_message_boxes.h"

#include <QDialog>

namespace conv {

std::unique_ptr<QMessageBox> MakeMessageBox(QMessageBox::Icon icon, const std::string& text,
                                            const std::string& caption,
                                            QMessageBox::StandardButtons buttons) {
    return std::make_unique<QMessageBox>(icon, QString::fromStdString(caption),
                                         QString::fromStdString(text), buttons);
}

void QtMessageBoxes::Show(const std::string& text, const std::string& caption) {
    MakeMessageBox(QMessageBox::Information, text, caption, QMessageBox::Ok)->exec();
}

bool QtMessageBoxes::AskOkCancel(const std::string& text, const std::string& caption) {
    return MakeMessageBox(QMessageBox::Warning, text, caption,
                          QMessageBox::Ok | QMessageBox::Cancel)
               ->exec() == QMessageBox::Ok;
}

void ExecDialogRunner::Run(QDialog& dialog) {
    dialog.exec();
}

}  // namespace conv
