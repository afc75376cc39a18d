// The three small dialogs that guard the workstation: the access prompt before the passwords may
// be changed, the password change dialog, and the operator prompt when the program is closed.
#pragma once

#include <memory>

#include "dialogs/form.h"

class QLineEdit;
class QPushButton;

namespace conv {

class SettingsFile;

// Why "&Записать" stored nothing: a password that would read back from the file otherwise than
// typed could never be typed at the close prompt.
inline constexpr const char* kPasswordWouldNotReadBack =
    "Информация не сохранена! Пароль не прочитается так, как введен: пробелы и кавычки по "
    "краям и знаки вне кодировки файла настроек не сохраняются.";

// Access prompt: sets AccessGranted.
class TF_Dostup : public Form {
    Q_OBJECT
  public:
    TF_Dostup(Converter& conv, AppServices& services, QWidget* parent = nullptr);
    ~TF_Dostup() override;

    void FormShow() override;
    void FormClose() override;
    void sButton1Click();

    QLineEdit* sEdit1 = nullptr;
    QPushButton* sButton1 = nullptr;

  private:
    std::unique_ptr<SettingsFile> settings_;
};

// Password change dialog: shows and writes both passwords.
class TF_Parol : public Form {
    Q_OBJECT
  public:
    TF_Parol(Converter& conv, AppServices& services, QWidget* parent = nullptr);
    ~TF_Parol() override;

    void FormShow() override;
    void sButton1Click();
    void sButton3Click() { reject(); }

    QLineEdit* sEdit1 = nullptr;  // access code
    QLineEdit* sEdit2 = nullptr;  // operator password
    QPushButton* sButton1 = nullptr;
    QPushButton* sButton3 = nullptr;

  private:
    std::unique_ptr<SettingsFile> settings_;
};

// Operator prompt at closing: sets EnteredOperatorPassword on OK.
class TF_ParOperatora : public Form {
    Q_OBJECT
  public:
    TF_ParOperatora(Converter& conv, AppServices& services, QWidget* parent = nullptr);

    void FormShow() override;
    void sButton1Click();
    // Whether OK was pressed in the latest showing; closing by the close box confirms nothing.
    bool ConfirmedThisShowing() const { return confirmed_; }

    QLineEdit* sEdit1 = nullptr;
    QPushButton* sButton1 = nullptr;

  private:
    bool confirmed_ = false;
};

}  // namespace conv
