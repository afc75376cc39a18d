#include "app/qt_message_boxes.h"

#include <QDialog>

#include "app/settings_file.h"

namespace conv {

std::string AppServices::SettingsPath() const {
    return settingsDir + kSettingsFileName;
}

void ReportWriteError(MessageBoxes& boxes, const SettingsFile& file) {
    // "... настроек C:\АРМ\Nastroika.ini: файл или диск только для чтения"
    boxes.Show("Ошибка записи в файл настроек " + file.LastError(), kAppTitle);
}

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
