#include "dialogs/passwords.h"

#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QVBoxLayout>
#include <optional>

#include "app/qt_strings.h"
#include "core/operator_boxes.h"
#include "settings/ini_document.h"
#include "settings/keys.h"
#include "settings/settings_file.h"

namespace conv {
namespace {

constexpr int kPasswordLength = 6;

// Hidden entry echoes '#' for each character, as the operators know it.
class HashEchoStyle : public QProxyStyle {
  public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* ret) const override {
        if (hint == QStyle::SH_LineEdit_PasswordCharacter) return '#';
        return QProxyStyle::styleHint(hint, option, widget, ret);
    }
};

QLineEdit* PasswordEdit(QWidget* parent, bool hidden) {
    auto* edit = new QLineEdit(parent);
    edit->setMaxLength(kPasswordLength);
    if (hidden) {
        auto* style = new HashEchoStyle;
        style->setParent(edit);
        edit->setStyle(style);
        edit->setEchoMode(QLineEdit::Password);
    }
    return edit;
}

}  // namespace

// ---- TF_Dostup ----

TF_Dostup::TF_Dostup(Converter& conv, AppServices& services, QWidget* parent)
    : Form(conv, services, parent) {
    setWindowTitle(QStringLiteral("Код доступа"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Введите код доступа"), this));
    layout->addWidget(new QLabel(QStringLiteral("( при первичном входе 731904 )"), this));
    sEdit1 = PasswordEdit(this, true);
    layout->addWidget(sEdit1);
    sButton1 = new QPushButton(QStringLiteral("OK"), this);
    sButton1->setAutoDefault(false);
    layout->addWidget(sButton1);
    connect(sButton1, &QPushButton::clicked, this, &TF_Dostup::sButton1Click);
    connect(sEdit1, &QLineEdit::returnPressed, this, &TF_Dostup::sButton1Click);
}

TF_Dostup::~TF_Dostup() = default;

void TF_Dostup::FormShow() {
    sEdit1->clear();
    settings_ = std::make_unique<SettingsFile>(services_.SettingsPath());
    conv_.State.AccessGranted = 0;
}

void TF_Dostup::FormClose() {
    settings_.reset();
}

void TF_Dostup::sButton1Click() {
    if (!settings_) settings_ = std::make_unique<SettingsFile>(services_.SettingsPath());
    const std::optional<std::string> code =
        settings_->TryReadString(ini::kPassword, ini::kAccessCode, ini::kDefaultPassword);
    if (!code) {
        // The code that is set is unknown, and the default must not stand in for it.
        conv_.State.AccessGranted = 0;
        services_.boxes->Show(ReadFailureText(*settings_, "Код доступа проверить нельзя."),
                              kAppTitle);
        sEdit1->clear();
        return;
    }
    if (S(sEdit1->text()) == *code) {
        conv_.State.AccessGranted = 1;
        accept();
        return;
    }
    conv_.State.AccessGranted = 0;
    services_.boxes->Show("Код доступа введен неправильно!", kAppTitle);
    sEdit1->clear();
}

// ---- TF_Parol ----

TF_Parol::TF_Parol(Converter& conv, AppServices& services, QWidget* parent)
    : Form(conv, services, parent) {
    setWindowTitle(QStringLiteral("Пароль на закрытие приложения"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        QStringLiteral("Для входа в установки паролей запрашивается код доступа(max 6 знаков)"),
        this));
    layout->addWidget(new QLabel(
        QStringLiteral("При закрытии  АРМа  запрашивается пароль оператора (max 6 знаков)"), this));
    layout->addWidget(new QLabel(QStringLiteral("Код доступа"), this));
    sEdit1 = PasswordEdit(this, false);
    layout->addWidget(sEdit1);
    layout->addWidget(new QLabel(QStringLiteral("Пароль оператора"), this));
    sEdit2 = PasswordEdit(this, false);
    layout->addWidget(sEdit2);
    auto* buttons = new QHBoxLayout;
    sButton1 = new QPushButton(QStringLiteral("&Записать"), this);
    sButton3 = new QPushButton(QStringLiteral("&Выход"), this);
    sButton1->setAutoDefault(false);
    sButton3->setAutoDefault(false);
    buttons->addWidget(sButton1);
    buttons->addWidget(sButton3);
    layout->addLayout(buttons);
    connect(sButton1, &QPushButton::clicked, this, &TF_Parol::sButton1Click);
    connect(sButton3, &QPushButton::clicked, this, &TF_Parol::sButton3Click);
}

TF_Parol::~TF_Parol() = default;

void TF_Parol::FormShow() {
    settings_ = std::make_unique<SettingsFile>(services_.SettingsPath());
    SettingsFile& f = *settings_;
    if (f.State() == FileState::kMissing) {
        // A refused write ends the showing's work quietly; the fields keep what they had.
        if (!f.WriteString(ini::kPassword, ini::kAccessCode, ini::kDefaultPassword)) return;
        if (!f.WriteString(ini::kPassword, ini::kOperatorPassword, ini::kDefaultPassword)) return;
        sEdit1->setText(QString::fromUtf8(ini::kDefaultPassword));
        sEdit2->setText(QString::fromUtf8(ini::kDefaultPassword));
        return;
    }
    const auto access = f.TryReadString(ini::kPassword, ini::kAccessCode, ini::kDefaultPassword);
    const auto operatorPassword =
        access ? f.TryReadString(ini::kPassword, ini::kOperatorPassword, ini::kDefaultPassword)
               : std::nullopt;
    if (!operatorPassword) {
        // Showing the defaults would pass them off as the passwords that are set.
        sEdit1->clear();
        sEdit2->clear();
        services_.boxes->Show(ReadFailureText(f, "Пароли не показаны."), kAppTitle);
        return;
    }
    sEdit1->setText(Q(*access));
    sEdit2->setText(Q(*operatorPassword));
}

void TF_Parol::sButton1Click() {
    if (!settings_) settings_ = std::make_unique<SettingsFile>(services_.SettingsPath());
    const std::string access = S(sEdit1->text());
    const std::string operatorPassword = S(sEdit2->text());
    // Both writes are tried on the file as it stands before either is made.
    std::optional<IniDocument> doc = settings_->Document();
    if (!doc) {
        services_.boxes->Show(ReadFailureText(*settings_, "Информация не сохранена."), kAppTitle);
        return;
    }
    for (const auto& [key, value] : {std::pair{ini::kAccessCode, access},
                                     std::pair{ini::kOperatorPassword, operatorPassword}}) {
        if (!ReadsBackUnchanged(*doc, ini::kPassword, key, value)) {
            services_.boxes->Show(kPasswordWouldNotReadBack, kAppTitle);
            return;
        }
        doc->Set(ini::kPassword, key, value);
    }
    if (!settings_->WriteString(ini::kPassword, ini::kAccessCode, access) ||
        !settings_->WriteString(ini::kPassword, ini::kOperatorPassword, operatorPassword)) {
        ReportWriteError(*services_.boxes, *settings_);
        return;
    }
    services_.boxes->Show("Информация сохранена!", kAppTitle);
}

// ---- TF_ParOperatora ----

TF_ParOperatora::TF_ParOperatora(Converter& conv, AppServices& services, QWidget* parent)
    : Form(conv, services, parent) {
    setWindowTitle(QStringLiteral("Будьте внимательны!"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Введите пароль"), this));
    layout->addWidget(new QLabel(QStringLiteral("закрытия АРМа"), this));
    sEdit1 = PasswordEdit(this, true);
    layout->addWidget(sEdit1);
    sButton1 = new QPushButton(QStringLiteral("OK"), this);
    sButton1->setAutoDefault(false);
    layout->addWidget(sButton1);
    connect(sButton1, &QPushButton::clicked, this, &TF_ParOperatora::sButton1Click);
    connect(sEdit1, &QLineEdit::returnPressed, this, &TF_ParOperatora::sButton1Click);
}

void TF_ParOperatora::FormShow() {
    sEdit1->clear();
    confirmed_ = false;
}

void TF_ParOperatora::sButton1Click() {
    conv_.State.EnteredOperatorPassword = S(sEdit1->text());
    confirmed_ = true;
    accept();
}

}  // namespace conv
