// The current data viewer: five read-only tables of what the tank table holds, rebuilt once a
// second while the viewer is open. It never writes to the table and sends nothing.
#pragma once

#include <QTimer>
#include <cstdint>

#include "dialogs/form.h"

class QToolButton;

namespace conv {

class StringGrid;

// Rows of every grid, the header row included; more rows are added only when more tanks of one
// type are listed than fit.
inline constexpr int kViewerGridRows = 62;

class TF_SpravkaPPP : public Form {
    Q_OBJECT
  public:
    TF_SpravkaPPP(Converter& conv, AppServices& services, QWidget* parent = nullptr);

    void FormShow() override;
    void FormClose() override;
    void Timer1Timer();

    void Draw();      // main parameters, StringGrid1
    void DrawTemp();  // point temperatures, StringGrid4
    void DrawPlot();  // density probes, StringGrid5
    void Draw1();     // gas sensors, StringGrid2
    void Draw2();     // pressure sensors, StringGrid3

    void sSpeedButton1Click() { ShowOnly(StringGrid1); }
    void sSpeedButton3Click() { ShowOnly(StringGrid4); }
    void sSpeedButton4Click() { ShowOnly(StringGrid5); }
    void sSpeedButton2Click() { ShowOnly(StringGrid2); }
    void SpeedButton3Click() { ShowOnly(StringGrid3); }
    void SpeedButton6Click();

    StringGrid* StringGrid1 = nullptr;
    StringGrid* StringGrid2 = nullptr;
    StringGrid* StringGrid3 = nullptr;
    StringGrid* StringGrid4 = nullptr;
    StringGrid* StringGrid5 = nullptr;
    QToolButton* sSpeedButton1 = nullptr;
    QToolButton* sSpeedButton3 = nullptr;
    QToolButton* sSpeedButton4 = nullptr;
    QToolButton* sSpeedButton2 = nullptr;
    QToolButton* SpeedButton3 = nullptr;
    QToolButton* SpeedButton6 = nullptr;

    QTimer Timer1;
    int32_t Timer1Busy = 0;

  private:
    void ShowOnly(StringGrid* grid);
};

}  // namespace conv
