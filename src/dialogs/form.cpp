#include "dialogs/form.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>

namespace conv {

void Form::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!e->spontaneous()) {
        closed_ = false;
        FormShow();
    }
}

// Every way out of a modal dialog (a button, the close box, Escape) ends here exactly once.
void Form::done(int r) {
    if (!closed_) {
        closed_ = true;
        FormClose();
    }
    QDialog::done(r);
}

void Form::CentreOnScreen() {
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        const QRect area = s->availableGeometry();
        move(area.center() - rect().center());
    }
}

}  // namespace conv
