#include "dialogs/nastroika.h"

namespace conv {

TF_Nastroika::TF_Nastroika(Converter& conv, AppServices& services, QWidget* parent)
    : Form(conv, services, parent) {
    setWindowTitle(QStringLiteral("Настройка каналов датчиковой аппаратуры"));
}

}  // namespace conv
