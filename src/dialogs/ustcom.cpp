#include "dialogs/ustcom.h"

namespace conv {

TF_UstCom::TF_UstCom(Converter& conv, AppServices& services, QWidget* parent)
    : Form(conv, services, parent) {
    setWindowTitle(QStringLiteral("Установка по COM-портам"));
}

}  // namespace conv
