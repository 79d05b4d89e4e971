// veltra-log: the windowed program. Its command line (app/startup.h) names
// the team folder to work in; it needs a display.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/forms.h"
#include "app/mainform.h"
#include "app/program_folder.h"
#include "app/startup.h"
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
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const veltra::TStartOptions options = veltra::ParseStartOptions(arguments);
    if (!options.Error.isEmpty()) {
        std::fprintf(stderr, "veltra-log: %s\n%s", qPrintable(options.Error),
                     qPrintable(veltra::StartUsage()));
        return 2;
    }
    if (options.Help) {
        std::fputs(qPrintable(veltra::StartUsage()), stdout);
        return 0;
    }
    if (options.Version) {
        std::printf("veltra-log %s\n", VELTRA_VERSION);
        return 0;
    }
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
    QApplication::setApplicationVersion(VELTRA_VERSION);
    QApplication::setWindowIcon(QIcon::fromTheme("veltra-log",
                                                 QIcon(QApplication::applicationDirPath() + "/veltra-log.svg")));
    veltra::InstallUserFormatSettings();

    const std::optional<QString> folder = veltra::FindTeamFolder(options);
    if (!folder) return options.Folder ? 2 : 1;
    if (!veltra::CheckTeamFolder(*folder)) return 1;
    veltra::SetProgramFolder(*folder);

    std::unique_ptr<veltra::TForms> forms = veltra::CreateForms();
    forms->mainform->show();
    const int result = app.exec();
    forms.reset();
    return result;
}
