#include "ui/qt/KestrelApplication.h"

#include <exception>
#include <string>

#include <QMessageBox>
#include <QString>

#include "ui/Components.h"
#include "ui/qt/QtComponents.h"

namespace qtui {

KestrelApplication::KestrelApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool KestrelApplication::notify(QObject* receiver, QEvent* event) {
    std::string text;
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        text = error.what();
    } catch (...) {
        text = "Unknown error";
    }
    try {
        QtMessageBoxes(activeWindow()).showError(text);
    } catch (...) {
    }
    return false;
}

void showAlreadyRunningMessage() {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(ui::ApplicationTitle),
                    QStringLiteral("The program already start"), QMessageBox::Ok);
    box.exec();
}

} // namespace qtui
