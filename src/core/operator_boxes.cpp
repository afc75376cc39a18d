#include "core/operator_boxes.h"

#include "log/message_boxes.h"
#include "settings/settings_file.h"

namespace conv {

void ReportWriteError(MessageBoxes& boxes, const SettingsFile& file) {
    // "... настроек C:\АРМ\Nastroika.ini: файл или диск только для чтения"
    boxes.Show("Ошибка записи в файл настроек " + file.LastError(), kAppTitle);
}

}  // namespace conv
