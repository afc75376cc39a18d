// Entry point: the application object, the seven windows, the message loop.
#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "app/program_windows.h"
#include "app/qt_message_boxes.h"
#include "core/operator_boxes.h"
#include "settings/settings_dir.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    conv::NameApplication();

    conv::QtMessageBoxes boxes;
    conv::ExecDialogRunner dialogs;
    conv::AppServices services;
    services.boxes = &boxes;
    services.dialogs = &dialogs;
    services.settingsDir = conv::SettingsDir();

    try {
        conv::Windows windows(services);
        windows.F_ModbusVelt->show();
        return QApplication::exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QString::fromUtf8(conv::kAppTitle),
                              QString::fromLocal8Bit(e.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, QString::fromUtf8(conv::kAppTitle), QString());
    }
    return 1;
}
