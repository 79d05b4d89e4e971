// veltra-log: the windowed program. It takes no arguments and reads no
// environment variables of its own; it needs a display.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/forms.h"
#include "app/mainform.h"
#include "platform/format_settings.h"
#include "platform/qt/app/application.h"

namespace {

// Qt aborts when it finds no display; say how to run the program instead.
bool HasDisplay() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
    if (!HasDisplay()) {
        std::fprintf(stderr,
                     "veltra-log needs a graphical display (DISPLAY or WAYLAND_DISPLAY is not "
                     "set); run it in a desktop session, or without one under a virtual display: "
                     "xvfb-run -a %s\n",
                     argc > 0 ? argv[0] : "veltra-log");
        return 2;
    }
    veltra::TApplication app(argc, argv);
    QApplication::setApplicationName("Veltra Log");
    QApplication::setApplicationDisplayName("Veltra Log");
    QApplication::setWindowIcon(QIcon(QApplication::applicationDirPath() + "/veltra-log.svg"));
    veltra::InstallUserFormatSettings();
    std::unique_ptr<veltra::TForms> forms = veltra::CreateForms();
    forms->mainform->show();
    const int result = app.exec();
    forms.reset();
    return result;
}
