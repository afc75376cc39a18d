// Channel address setup: which tanks are polled, on which channel of the gauge system each tank
// lies, and the gauge system's slave address. Every change made here takes effect in the tank
// table at once, so the poll follows it from its next request; the file changes only on Save.
#pragma once

#include <QLineEdit>
#include <memory>

#include "dialogs/form.h"

class QLabel;
class QMenu;
class QAction;
class QPushButton;

namespace conv {

class SettingsFile;
class StringGrid;

// The slave-address field: three decimal positions, empty ones shown as 0 on the left. The
// operator types up to three digits; ThreeDigitText() is the field's three-character form ("080"
// for 80), which is what the settings file receives and what converts back to the number.
class SlaveAddressEdit : public QLineEdit {
    Q_OBJECT
  public:
    explicit SlaveAddressEdit(QWidget* parent = nullptr);
    QString ThreeDigitText() const;
    // Shows the text in its three-character form.
    void SetText(const QString& text);

  protected:
    void focusInEvent(QFocusEvent* e) override;
};

class TF_Nastroika : public Form {
    Q_OBJECT
  public:
    TF_Nastroika(Converter& conv, AppServices& services, QWidget* parent = nullptr);
    ~TF_Nastroika() override;

    void FormShow() override;
    void FormClose() override;
    void N1Click();
    void N2Click();
    void StringGrid1SelectCell(int col, int row);
    void sButton1Click();
    void sButton2Click() { reject(); }
    void sMaskEdit1Change();

    // Grid row of the last selected cell; 0 = none (the header row). Kept between showings.
    int SelectedRow() const { return selectedRow_; }

    StringGrid* StringGrid1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* N1 = nullptr;
    QAction* N2 = nullptr;
    SlaveAddressEdit* sMaskEdit1 = nullptr;
    QLabel* sLabel4 = nullptr;
    QPushButton* sButton1 = nullptr;
    QPushButton* sButton2 = nullptr;

  private:
    void WriteHeader();
    void ListConfiguredTanks();
    // The slave-address text as a number into SlaveAddress; false (and the conversion error box)
    // when it is not a whole number, SlaveAddress then keeps its value.
    bool ApplySlaveAddress(const QString& text);
    SettingsFile& Settings();

    std::unique_ptr<SettingsFile> settings_;
    int selectedRow_ = 0;
};

}  // namespace conv
