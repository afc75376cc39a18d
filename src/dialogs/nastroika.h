#pragma once

#include "dialogs/form.h"

namespace conv {

class TF_Nastroika : public Form {
    Q_OBJECT
  public:
    TF_Nastroika(Converter& conv, AppServices& services, QWidget* parent = nullptr);
};

}  // namespace conv
