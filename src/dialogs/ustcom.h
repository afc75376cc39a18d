#pragma once

#include "dialogs/form.h"

namespace conv {

class TF_UstCom : public Form {
    Q_OBJECT
  public:
    TF_UstCom(Converter& conv, AppServices& services, QWidget* parent = nullptr);
};

}  // namespace conv
