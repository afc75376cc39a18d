// The program's seven windows, created in their fixed order (the main window first, so that it
// is the main window) and living until the program ends.
#pragma once

#include <QApplication>
#include <memory>

#include "app/modbusvelt.h"
#include "core/operator_boxes.h"
#include "dialogs/nastroika.h"
#include "dialogs/passwords.h"
#include "dialogs/spravkappp.h"
#include "dialogs/ustcom.h"

namespace conv {

// The application's name captions only a window that has none of its own. It is not made the
// display name: the X11 and Windows platform layers append that to every window's title
// ("... - Конвертор"), and each window must read exactly as it is captioned.
inline void NameApplication() {
    QApplication::setApplicationName(QString::fromUtf8(kAppTitle));
}

struct Windows {
    explicit Windows(AppServices& services)
        : F_ModbusVelt(std::make_unique<TF_ModbusVelt>(services)),
          F_Nastroika(std::make_unique<TF_Nastroika>(Conv(), services)),
          F_UstCom(std::make_unique<TF_UstCom>(Conv(), services)),
          F_SpravkaPPP(std::make_unique<TF_SpravkaPPP>(Conv(), services)),
          F_Parol(std::make_unique<TF_Parol>(Conv(), services)),
          F_Dostup(std::make_unique<TF_Dostup>(Conv(), services)),
          F_ParOperatora(std::make_unique<TF_ParOperatora>(Conv(), services)) {
        F_ModbusVelt->SetDialogs({F_Nastroika.get(), F_UstCom.get(), F_SpravkaPPP.get(),
                                  F_Parol.get(), F_Dostup.get(), F_ParOperatora.get()});
    }
    Converter& Conv() { return F_ModbusVelt->Conv(); }

    // Destroyed in reverse order: the dialogs go before the main window whose state they use.
    std::unique_ptr<TF_ModbusVelt> F_ModbusVelt;
    std::unique_ptr<TF_Nastroika> F_Nastroika;
    std::unique_ptr<TF_UstCom> F_UstCom;
    std::unique_ptr<TF_SpravkaPPP> F_SpravkaPPP;
    std::unique_ptr<TF_Parol> F_Parol;
    std::unique_ptr<TF_Dostup> F_Dostup;
    std::unique_ptr<TF_ParOperatora> F_ParOperatora;
};

}  // namespace conv
