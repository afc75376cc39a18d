#include "app/qt_message_boxes.h"

#include <QDialog>
#include <QMessageBox>

#include "app/settings_file.h"

namespace conv {

std::string AppServices::SettingsPath() const {
    return settingsDir + kSettingsFileName;
}

void ReportWriteError(MessageBoxes& boxes, const SettingsFile& file) {
    // "... настроек C:\АРМ\Nastroika.ini: файл или диск только для чтения"
    boxes.Show("Ошибка записи в файл настроек " + file.LastError(), kAppTitle);
}

void QtMessageBoxes::Show(const std::string& text, const std::string& caption) {
    QMessageBox::information(nullptr, QString::fromStdString(caption), QString::fromStdString(text),
                             QMessageBox::Ok);
}

bool QtMessageBoxes::AskOkCancel(const std::string& text, const std::string& caption) {
    return QMessageBox::warning(nullptr, QString::fromStdString(caption),
                                QString::fromStdString(text),
                                QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void ExecDialogRunner::Run(QDialog& dialog) {
    dialog.exec();
}

}  // namespace conv
