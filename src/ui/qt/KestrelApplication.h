#pragma once
// The application object: the last line of defence for errors that escape an event handler
// outside the window logic's own dispatch (Qt itself must never see an exception).
#include <QApplication>

namespace qtui {

class KestrelApplication : public QApplication {
    Q_OBJECT
public:
    KestrelApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

// Loads Qt's own Simplified Chinese texts into `application` (done by KestrelApplication).
void installChineseTranslations(QCoreApplication& application);

// The message to a second instance: "The program already start" in a plain box captioned with
// the application title, one OK button; returns when the user has closed it.
void showAlreadyRunningMessage();

} // namespace qtui
