// The main window: menu, tool buttons, the two log panes and the three timers that drive the
// MODBUS poll cycle, its pacing and the host service. It owns no I/O of its own and does no
// protocol work itself: the timers call the core's steps on the converter's state.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <memory>

#include "app/app_services.h"
#include "app/line_runner.h"
#include "core/converter.h"
#include "core/operator_boxes.h"

class QAction;
class QToolButton;
class QFrame;

namespace conv {

class LogPaneWidget;
class SettingsFile;
class TF_Nastroika;
class TF_UstCom;
class TF_SpravkaPPP;
class TF_Parol;
class TF_Dostup;
class TF_ParOperatora;

inline constexpr const char* kLogFlagSet = "Флаг ведения протокола установлен";
inline constexpr const char* kLogFlagCleared = "Флаг ведения протокола снят";
inline constexpr const char* kModbusCaption = "Опрос по протоколу МОDBUS";
inline constexpr const char* kVeltCaption = "Опрос по протоколу VELT";

class TF_ModbusVelt : public QMainWindow {
    Q_OBJECT
  public:
    explicit TF_ModbusVelt(AppServices& services, QWidget* parent = nullptr);
    ~TF_ModbusVelt() override;

    struct Dialogs {
        TF_Nastroika* nastroika = nullptr;
        TF_UstCom* ustCom = nullptr;
        TF_SpravkaPPP* spravka = nullptr;
        TF_Parol* parol = nullptr;
        TF_Dostup* dostup = nullptr;
        TF_ParOperatora* parOperatora = nullptr;
    };
    void SetDialogs(const Dialogs& d) { dialogs_ = d; }

    Converter& Conv() { return *conv_; }

    // Handlers, named after their controls.
    void FormShow();
    void E1Click();
    void SpeedButton8Click() { E1Click(); }
    void N2Click();
    void SpeedButton7Click();
    void N4Click();
    void N5Click();
    void E2Click();
    void D1Click() { close(); }
    void SpeedButton6Click() { close(); }
    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();
    // The fast-mode counterparts of Timer1Timer and Timer2Timer, run by the line runners; they
    // tend their ports too (core/line_modes.h), so ModbusReopen and VeltReopen serve tick lines.
    LineWait ModbusFastTimer(MicroTime now);
    LineWait VeltFastTimer(MicroTime now);
    // Close guard: true lets the close go ahead.
    bool FormClose();

    // Controls that the tests look at.
    QLabel* sLabel3 = nullptr;
    QLabel* sPanel5 = nullptr;
    QLabel* sLabel1 = nullptr;  // the MODBUS side's caption and mode
    QLabel* sLabel2 = nullptr;  // the host side's
    LogPaneWidget* sRichEdit1 = nullptr;
    LogPaneWidget* sRichEdit2 = nullptr;
    QTimer Timer1;
    QTimer Timer2;
    QTimer Timer3;
    // Drive a side in fast mode instead of Timer1 or Timer2.
    LineRunner ModbusRunner;
    LineRunner VeltRunner;
    // Single-shot: the next attempt to open a side's port whose device has gone.
    QTimer ModbusReopen;
    QTimer VeltReopen;
    QAction* E1 = nullptr;
    QAction* N2 = nullptr;
    QAction* N4 = nullptr;
    QAction* N5 = nullptr;
    QAction* E2 = nullptr;
    QAction* D1 = nullptr;
    QToolButton* SpeedButton6 = nullptr;
    QToolButton* SpeedButton7 = nullptr;
    QToolButton* SpeedButton8 = nullptr;

    int32_t Timer1Busy = 0;
    int32_t Timer2Busy = 0;
    int32_t Timer3Busy = 0;

  protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;

  private:
    void BuildWindow();
    void OpenPortsInUse();
    void StopLines();
    void ShowLineModes();
    void TendPort(Side side);
    void ShowLogFlag();
    void SetLogFlag(int value);
    SettingsFile& Settings();

    AppServices& services_;
    std::unique_ptr<Converter> conv_;
    std::unique_ptr<SettingsFile> settingsFile_;
    Dialogs dialogs_;
    bool shown_ = false;
    // A fast line's number for sPanel5, and whether it is already on its way there.
    int panelNext_ = 0;
    bool panelQueued_ = false;
};

}  // namespace conv
