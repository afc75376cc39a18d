// Common ground of the operator dialogs: each is shown modally from the main window, runs its
// FormShow when it appears and its FormClose when it goes, and reaches the converter's state and
// the application's services through references it is given at creation.
#pragma once

#include <QDialog>

#include "app/app_services.h"
#include "core/converter.h"

namespace conv {

class Form : public QDialog {
    Q_OBJECT
  public:
    Form(Converter& conv, AppServices& services, QWidget* parent = nullptr)
        : QDialog(parent), conv_(conv), services_(services) {}

    virtual void FormShow() {}
    virtual void FormClose() {}

  protected:
    void showEvent(QShowEvent* e) override;
    void done(int r) override;
    // Centres the dialog on the screen, as every window of the program is.
    void CentreOnScreen();

    Converter& conv_;
    AppServices& services_;

  private:
    bool closed_ = true;
};

}  // namespace conv
