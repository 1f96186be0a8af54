#include "ui/qt/KestrelApplication.h"

#include <exception>
#include <string>

#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QString>
#include <QTranslator>

#include "ui/Components.h"
#include "ui/qt/QtComponents.h"

namespace qtui {

void installChineseTranslations(QCoreApplication& application) {
    // The interface is Chinese whatever the locale: Qt's own texts (the standard buttons of
    // message boxes and dialogs) too.
    auto* translator = new QTranslator(&application);
    if (translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

KestrelApplication::KestrelApplication(int& argc, char** argv) : QApplication(argc, argv) {
    installChineseTranslations(*this);
}

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
    // Above the running instance's window, which is kept on top by default.
    prepareMessageBox(box);
    box.exec();
}

} // namespace qtui
