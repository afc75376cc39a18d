#include "dialogs/spravkappp.h"

namespace conv {

TF_SpravkaPPP::TF_SpravkaPPP(Converter& conv, AppServices& services, QWidget* parent)
    : Form(conv, services, parent) {
    setWindowTitle(QStringLiteral("Информация поступающая с ДА"));
}

}  // namespace conv
