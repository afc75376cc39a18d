// The titles the window system shows for the program's windows, read back from a real X server:
// what the platform layer makes of a caption, not what the widget was given. The test starts an
// Xvfb of its own, so it needs no display and never shares one with a parallel run.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QTest>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/program_windows.h"
#include "app/qt_message_boxes.h"
#include "gui/dialog_env.h"
#include "support/scripted_ui_qt.h"

using namespace conv;

namespace {

// Xvfb on a display number it picks and reports itself (-displayfd): no two runs race for one.
class OwnXServer {
  public:
    OwnXServer() {
        int report[2];
        if (pipe(report) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(report[0]);
            const int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
            const std::string fd = std::to_string(report[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
                   "1280x1024x24", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(report[1]);
        std::string number;
        char c = 0;
        while (pid_ > 0 && read(report[0], &c, 1) == 1 && c != '\n') number += c;
        close(report[0]);
        if (!number.empty()) display_ = ":" + number;
    }
    ~OwnXServer() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    // Empty when the server did not start.
    const std::string& Display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

// _NET_WM_NAME of the widget's window: the title task bars and window frames show.
QString PlatformTitle(QWidget& window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11) return QStringLiteral("<not on X11>");
    xcb_connection_t* c = x11->connection();
    const auto atom = [c](const char* name) {
        XcbReply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
        return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    };
    // Asked on Qt's own connection, so the answer comes after every request Qt has made.
    XcbReply<xcb_get_property_reply_t> r(
        xcb_get_property_reply(c,
                               xcb_get_property(c, 0, static_cast<xcb_window_t>(window.winId()),
                                                atom("_NET_WM_NAME"), atom("UTF8_STRING"), 0, 1024),
                               nullptr));
    if (!r) return QStringLiteral("<no reply>");
    return QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(r.get())),
                             xcb_get_property_value_length(r.get()));
}

}  // namespace

class WindowTitlesTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        NameApplication();  // as the program's entry point does
    }

    void everyWindowReadsExactlyItsCaption() {
        test::DialogEnv env;
        Windows w(env.services);
        const std::pair<QWidget*, const char*> windows[] = {
            {w.F_ModbusVelt.get(), "Конвертор Modbus Torvik+ -> Velt. Версия 00.08"},
            {w.F_Nastroika.get(), "Настройка каналов датчиковой аппаратуры"},
            {w.F_UstCom.get(), "Установка по COM-портам"},
            {w.F_SpravkaPPP.get(), "Информация поступающая с ДА"},
            {w.F_Parol.get(), "Пароль на закрытие приложения"},
            {w.F_Dostup.get(), "Код доступа"},
            {w.F_ParOperatora.get(), "Будьте внимательны!"},
        };
        for (const auto& [window, caption] : windows) {
            window->show();
            QCOMPARE(PlatformTitle(*window), QString::fromUtf8(caption));
            window->hide();
        }
    }

    void messageBoxesReadExactlyTheirCaptions() {
        const std::pair<QMessageBox::Icon, const char*> boxes[] = {
            {QMessageBox::Information, " OUT "},  // a port that cannot be opened
            {QMessageBox::Information, "Конвертор"},
            {QMessageBox::Warning, "Будьте внимательны!"},  // the close warning
        };
        for (const auto& [icon, caption] : boxes) {
            auto box = MakeMessageBox(icon, "text", caption, QMessageBox::Ok);
            box->show();
            QCOMPARE(PlatformTitle(*box), QString::fromUtf8(caption));
        }
    }
};

int main(int argc, char** argv) {
    OwnXServer x;
    if (x.Display().empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    qputenv("DISPLAY", x.Display().c_str());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    WindowTitlesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "window_titles_test.moc"
