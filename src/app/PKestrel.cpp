// PKestrel: the program entry of the window `kestrel`.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QGuiApplication>
#include <QString>

#include "os/Memory.h"
#include "os/SingleInstance.h"
#include "ui/Components.h"
#include "ui/UnitFormKestrel.h"
#include "ui/Worker.h"
#include "ui/qt/KestrelApplication.h"
#include "ui/qt/KestrelMainWindow.h"
#include "ui/qt/QtPlatformChoice.h"
#include "ui/qt/QtShell.h"

namespace {

// One instance per user and desktop session, as the original's session-local mutex "Kestrel":
// the display the program shows on joins the name (":0.0" and ":0" are one display).
std::string instanceName() {
    std::string name = ui::ApplicationTitle;
    const char* variable = QGuiApplication::platformName() == QStringLiteral("wayland")
                               ? "WAYLAND_DISPLAY"
                               : "DISPLAY";
    QString display = qEnvironmentVariable(variable);
    const qsizetype colon = display.lastIndexOf(QLatin1Char(':'));
    const qsizetype dot = display.lastIndexOf(QLatin1Char('.'));
    if (colon >= 0 && dot > colon)
        display.truncate(dot);
    if (!display.isEmpty())
        name += "@" + display.toStdString();
    return name;
}

} // namespace

int main(int argc, char** argv) {
    // The snapshot's worker threads would otherwise keep heaps of their own, several megabytes
    // with a hundred thousand rows, that trimming never gives back.
    os::KeepOneHeap();
    qtui::keepSessionBusFromStarting();
    qtui::applyQtPlatformChoice();
    qtui::KestrelApplication application(argc, argv);
    const QString title = QString::fromUtf8(ui::ApplicationTitle);
    QApplication::setApplicationName(title);
    QGuiApplication::setDesktopFileName(QStringLiteral("kestrel"));
    QApplication::setWindowIcon(qtui::applicationIcon());

    // Held until the process ends; the kernel frees the name then, however the process ends.
    const os::SingleInstance instance(instanceName());
    if (instance.alreadyRunning()) {
        qtui::showAlreadyRunningMessage();
        return 0;
    }

    int exitCode = 0;
    {
        qtui::KestrelMainWindow window(systemFormServices());
        window.create();
        window.show();
        exitCode = QApplication::exec();
    }
    // A snapshot or a request still running is not waited for; the static objects it may be
    // using must then stay as they are until the process has gone.
    if (ui::ThreadWorker::runningJobs() > 0) {
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    return exitCode;
}
