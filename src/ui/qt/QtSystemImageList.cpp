#include "ui/qt/QtSystemImageList.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QStandardPaths>
#include <QStringList>

#include "os/IconNames.h"

namespace qtui {

namespace {

bool ThemeInstalled(const QString& theme) {
    const QStringList paths = QIcon::themeSearchPaths();
    for (const QString& path : paths) {
        if (QFileInfo::exists(path + QLatin1Char('/') + theme + QStringLiteral("/index.theme")))
            return true;
    }
    return false;
}

QIcon IconOfName(const QString& name) {
    if (name.isEmpty())
        return {};
    if (name.startsWith(QLatin1Char('/'))) {
        if (!QFileInfo(name).isFile())
            return {};
        QIcon icon(name);
        return icon.availableSizes().isEmpty() && icon.pixmap(QSize(16, 16)).isNull() ? QIcon()
                                                                                      : icon;
    }
    QIcon icon = QIcon::fromTheme(name);
    if (!icon.isNull())
        return icon;
    // Older entries name their icon with its extension ("foo.png"), which themes do not know.
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0) {
        const QString extension = name.mid(dot + 1).toLower();
        if (extension == QLatin1String("png") || extension == QLatin1String("svg") ||
            extension == QLatin1String("xpm"))
            return QIcon::fromTheme(name.left(dot));
    }
    return {};
}

} // namespace

QtImageStore::QtImageStore(int width, int height) : m_width(width), m_height(height) {}

int QtImageStore::add(const QPixmap& picture) {
    if (picture.isNull() || m_width <= 0 || m_height <= 0)
        return -1;
    QPixmap fitted = picture;
    const QSize size(m_width, m_height);
    const QSize logical = (QSizeF(picture.size()) / picture.devicePixelRatio()).toSize();
    if (logical != size) {
        const qreal ratio = picture.devicePixelRatio();
        QPixmap scaled =
            picture.scaled(size * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        fitted = QPixmap(size * ratio);
        fitted.setDevicePixelRatio(ratio);
        fitted.fill(Qt::transparent);
        QPainter painter(&fitted);
        const QSizeF placed = QSizeF(scaled.size()) / ratio;
        painter.drawPixmap(
            QPointF((m_width - placed.width()) / 2, (m_height - placed.height()) / 2), scaled);
    }
    m_pictures.push_back(fitted);
    return count() - 1;
}

QPixmap QtImageStore::picture(int index) const {
    if (index < 0 || index >= count())
        return {};
    return m_pictures[static_cast<std::size_t>(index)];
}

QtSystemImageList::QtSystemImageList() {
    prepareIconTheme();
}

int QtSystemImageList::iconIndexOfPath(const std::string& path) {
    return os::SystemIconIndexOfPath(path);
}

int QtSystemImageList::copyIcon(int systemIndex, bool small, ImageStore& target) {
    return target.addSystemIcon(systemIndex, small);
}

int QtImageStore::addSystemIcon(int systemIndex, bool) {
    // The theme serves every size, so the small and the large list differ only in the size
    // of the list that receives the copy.
    const QIcon icon = QtSystemImageList::iconOfKey(os::SystemIconName(systemIndex));
    if (icon.isNull())
        return -1;
    return add(icon.pixmap(QSize(m_width, m_height)));
}

QIcon QtSystemImageList::iconOfKey(const std::string& iconKey) {
    const QStringList names =
        QString::fromUtf8(iconKey.data(), static_cast<qsizetype>(iconKey.size()))
            .split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& name : names) {
        QIcon icon = IconOfName(name.trimmed());
        if (!icon.isNull())
            return icon;
    }
    return {};
}

void QtSystemImageList::prepareIconTheme() {
    static bool prepared = false;
    if (prepared)
        return;
    prepared = true;
    // Some platform plugins (offscreen, minimal) give no search path but the resources'.
    QStringList searchPaths = QIcon::themeSearchPaths();
    QStringList wanted =
        QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                  QStandardPaths::LocateDirectory);
    wanted.prepend(QDir::homePath() + QStringLiteral("/.icons"));
    bool added = false;
    for (const QString& path : wanted) {
        if (!searchPaths.contains(path) && QDir(path).exists()) {
            searchPaths.append(path);
            added = true;
        }
    }
    if (added)
        QIcon::setThemeSearchPaths(searchPaths);

    const QString adwaita = QStringLiteral("Adwaita");
    const QString hicolor = QStringLiteral("hicolor");
    if (ThemeInstalled(adwaita)) {
        if (QIcon::themeName().isEmpty() || QIcon::themeName() == hicolor)
            QIcon::setThemeName(adwaita);
        if (QIcon::fallbackThemeName().isEmpty() || QIcon::fallbackThemeName() == hicolor)
            QIcon::setFallbackThemeName(adwaita);
    }
    // Entries may name an unthemed icon that lies in the pixmaps folder.
    QStringList fallbackPaths = QIcon::fallbackSearchPaths();
    const QString pixmaps = QStringLiteral("/usr/share/pixmaps");
    if (!fallbackPaths.contains(pixmaps) && QDir(pixmaps).exists()) {
        fallbackPaths.append(pixmaps);
        QIcon::setFallbackSearchPaths(fallbackPaths);
    }
}

} // namespace qtui
