// PKestrel: the program entry of the window `kestrel`.
#include <QMessageBox>
#include <QString>

#include "os/SingleInstance.h"
#include "ui/Components.h"
#include "ui/UnitFormKestrel.h"
#include "ui/qt/KestrelApplication.h"
#include "ui/qt/KestrelMainWindow.h"

int main(int argc, char** argv)
{
    qtui::KestrelApplication application(argc, argv);
    const QString title = QString::fromUtf8(ui::ApplicationTitle);
    QApplication::setApplicationName(title);
    QGuiApplication::setDesktopFileName(QStringLiteral("kestrel"));
    QApplication::setWindowIcon(qtui::applicationIcon());

    // Held until the process ends; the kernel frees the name then, however the process ends.
    const os::SingleInstance instance(ui::ApplicationTitle);
    if (instance.alreadyRunning()) {
        QMessageBox box(QMessageBox::NoIcon, title, QStringLiteral("The program already start"),
                        QMessageBox::Ok);
        box.exec();
        return 0;
    }

    qtui::KestrelMainWindow window(systemFormServices());
    window.create();
    window.show();
    return QApplication::exec();
}
