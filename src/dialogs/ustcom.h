// Serial port setup: which port each side of the converter uses, whether the side is used at all,
// and whether it runs on its timer's ticks or in fast mode. It only records the choice, in memory
// and in the settings file; the main window closes and reopens the ports when the dialog has gone.
#pragma once

#include <QGroupBox>
#include <string>
#include <vector>

#include "dialogs/form.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;

namespace conv {

// Radio buttons side by side in a frame; ItemIndex is the checked one (-1 = none).
class RadioGroup : public QGroupBox {
    Q_OBJECT
  public:
    RadioGroup(const QStringList& items, QWidget* parent = nullptr);
    int ItemIndex() const;
    void SetItemIndex(int index);

  private:
    QButtonGroup* buttons_;
};

// Serial devices that a port name may also be written as, beyond "Com1".."Com254": under `root`
// (normally "/dev") every ttyUSB* and ttyACM* and every entry of serial/by-id, each group in
// natural order (ttyUSB2 before ttyUSB10). Empty on Windows.
std::vector<std::string> ScanSerialDevices(const std::string& root);

class TF_UstCom : public Form {
    Q_OBJECT
  public:
    TF_UstCom(Converter& conv, AppServices& services, QWidget* parent = nullptr);

    void FormShow() override;
    void sButton1Click();
    void sButton2Click() { reject(); }

    RadioGroup* sRadioGroup1 = nullptr;  // MODBUS
    QComboBox* sComboBox1 = nullptr;
    RadioGroup* sRadioGroup2 = nullptr;  // VELT
    QComboBox* sComboBox2 = nullptr;
    // Fast mode of each side, and the MODBUS side's reply timeout and quiet pause in it.
    QCheckBox* sCheckBox1 = nullptr;  // MODBUS
    QSpinBox* sSpinEdit1 = nullptr;   // "Ожидание", ms
    QSpinBox* sSpinEdit2 = nullptr;   // "Пауза", ms
    QCheckBox* sCheckBox2 = nullptr;  // VELT
    QPushButton* sButton1 = nullptr;
    QPushButton* sButton2 = nullptr;

    // Where the device scan looks; the tests point it at a folder of their own.
    std::string DeviceRoot = "/dev";

  private:
    void FitBoxesToNames();
    void AddToBothLists(const QString& name);
    // A name goes into the lists when it can be opened, or when a side is configured on it.
    void OfferPort(const std::string& name);
};

}  // namespace conv
