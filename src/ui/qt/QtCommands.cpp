#include "ui/qt/QtCommands.h"

#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QPixmap>
#include <QPoint>
#include <QWidget>

#include "ui/qt/QtFormProcInfo.h"
#include "ui/qt/QtSystemImageList.h"

namespace qtui {

void QtPopupMenu::popup(ScreenPoint where) {
    if (m_menu)
        m_menu->exec(QPoint(where.x, where.y));
}

void QtDropDownMenu::dropDown() {
    if (m_menu && m_button)
        m_menu->exec(m_button->mapToGlobal(QPoint(0, m_button->height())));
}

QtProcInfoDialogs::QtProcInfoDialogs(QWidget* owner,
                                     std::function<const QtImageStore*()> largeIcons)
    : m_owner(owner), m_largeIcons(std::move(largeIcons)) {}

std::unique_ptr<ProcInfoView> QtProcInfoDialogs::createProcInfoView() {
    auto largeIcons = m_largeIcons;
    auto iconSource = [largeIcons](int index) {
        const QtImageStore* store = largeIcons ? largeIcons() : nullptr;
        return store ? store->picture(index) : QPixmap();
    };
    return std::make_unique<QtFormProcInfo>(m_owner.data(), std::move(iconSource));
}

std::string QtSaveFileDialog::askSaveFileName(const std::string& caption,
                                              const std::string& suggestedName) {
    const QString csvFilter = QString::fromUtf8("CSV 文件 (*.csv)");
    const QString textFilter = QString::fromUtf8("制表符分隔的文本文件 (*.txt)");
    const QString start = QDir::home().filePath(QString::fromStdString(suggestedName));
    // The name is taken as typed: a suffix added afterwards could name a file the dialog did
    // not ask about replacing.
    const QString name =
        QFileDialog::getSaveFileName(m_owner.data(), QString::fromStdString(caption), start,
                                     csvFilter + QStringLiteral(";;") + textFilter);
    return name.toStdString();
}

QtCommandComponents::QtCommandComponents(QWidget* owner, QMenu* pmTree, QMenu* pmOptions,
                                         QWidget* optionsButton,
                                         std::function<const QtImageStore*()> largeIcons)
    : m_menu(pmTree), m_options(pmOptions, optionsButton), m_dialogs(owner, std::move(largeIcons)),
      m_saveDialog(owner) {}

TFormKestrelCommands QtCommandComponents::commands() {
    return TFormKestrelCommands{&m_menu,    &m_shell,   &m_clipboard,
                                &m_dialogs, &m_options, &m_saveDialog};
}

} // namespace qtui
