#pragma once

#include "dialogs/form.h"

namespace conv {

class TF_SpravkaPPP : public Form {
    Q_OBJECT
  public:
    TF_SpravkaPPP(Converter& conv, AppServices& services, QWidget* parent = nullptr);
};

}  // namespace conv
