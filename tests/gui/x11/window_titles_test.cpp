// The titles the window system shows for the program's windows, read back from a real X server:
// what the platform layer makes of a caption, not what the widget was given. The test starts an
// Xvfb of its own, so it needs no display and never shares one with a parallel run.
#include <xcb/xcb.h>

#include <QApplication>
#include <QProcess>
#include <QTest>
#include <cstdlib>
#include <cstring>

#include "gui/dialog_env.h"

using namespace conv;

namespace {

// _NET_WM_NAME of the widget's window: the title task bars and window frames show. Asked on
// Qt's own connection, so the answer comes after every request Qt has made.
QString PlatformTitle(QWidget& window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11->connection();
    const auto atom = [c](const char* name) {
        auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), 0);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(r);
        return a;
    };
    auto* r = xcb_get_property_reply(
        c,
        xcb_get_property(c, 0, window.winId(), atom("_NET_WM_NAME"), atom("UTF8_STRING"), 0, 1024),
        nullptr);
    const QString title = r ? QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(r)),
                                                xcb_get_property_value_length(r))
                            : QStringLiteral("<no reply>");
    std::free(r);
    return title;
}

}  // namespace

class WindowTitlesTest : public QObject {
    Q_OBJECT

  private slots:
    void everyWindowReadsExactlyItsCaption() {
        NameApplication();  // as the program's entry point does
        test::DialogEnv env;
        Windows& w = *env.windows;
        // The main window and the dialogs whose captions no other test reads; the others are read
        // as the main window's commands show them.
        const std::pair<QWidget*, const char*> windows[] = {
            {w.F_ModbusVelt.get(), "Конвертор Modbus Torvik+ -> Velt. Версия 00.08"},
            {w.F_Parol.get(), "Пароль на закрытие приложения"},
            {w.F_ParOperatora.get(), "Будьте внимательны!"},
        };
        for (const auto& [window, caption] : windows) {
            window->show();
            QCOMPARE(PlatformTitle(*window), QString::fromUtf8(caption));
            window->hide();
        }
    }
};

int main(int argc, char** argv) {
    // Xvfb picks a free display itself and writes its number to standard output (-displayfd).
    QProcess xvfb;
    xvfb.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1280x1024x24"});
    while (xvfb.waitForReadyRead(30000) && !xvfb.canReadLine()) {
    }
    const QByteArray display = xvfb.readLine().trimmed();
    if (display.isEmpty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    qputenv("DISPLAY", ":" + display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    // The application goes before its X server does.
    const int status = [&] {
        QApplication app(argc, argv);
        WindowTitlesTest test;
        return QTest::qExec(&test, argc, argv);
    }();
    xvfb.terminate();
    xvfb.waitForFinished();
    return status;
}

#include "window_titles_test.moc"
