#include "ui/qt/KestrelApplication.h"

#include <exception>
#include <string>

#include "ui/qt/QtComponents.h"

namespace qtui {

KestrelApplication::KestrelApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool KestrelApplication::notify(QObject* receiver, QEvent* event)
{
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

} // namespace qtui
