#pragma once
// The icon cache's toolkit part in Qt: the pictures of an image list, and the icon theme as the
// system's image lists (system indices from os/IconNames.h).
#include <string>
#include <vector>

#include <QIcon>
#include <QPixmap>

#include "list/ImageListEx.h"

namespace qtui {

// The toolkit's image list: pictures of exactly width x height, appended in order.
class QtImageStore : public ImageStore {
public:
    explicit QtImageStore(int width = 16, int height = 16);

    int width() const override { return m_width; }
    int height() const override { return m_height; }
    void setWidth(int width) override { m_width = width; }
    void setHeight(int height) override { m_height = height; }
    int count() const override { return static_cast<int>(m_pictures.size()); }
    // From the icon theme (QtSystemImageList::iconOfKey), which serves every size.
    int addSystemIcon(int systemIndex, bool small) override;

    // Appends `picture`, fitted into the list's size and centred; its index, or -1 for a null
    // picture.
    int add(const QPixmap& picture);

    // Picture `index`; a null pixmap for an index the list does not hold.
    QPixmap picture(int index) const;

private:
    int m_width;
    int m_height;
    std::vector<QPixmap> m_pictures;
};

// The current icon theme as the system's small and large image lists. Needs a QGuiApplication.
class QtSystemImageList : public SystemImageList {
public:
    QtSystemImageList();

    int iconIndexOfPath(const std::string& path) override;
    // The store makes the copy (ImageStore::addSystemIcon): a QtImageStore from the theme.
    int copyIcon(int systemIndex, bool small, ImageStore& target) override;

    // The first of the icon key's names (see os/IconNames.h) that gives a picture: a theme
    // icon, a picture file, or an unthemed icon of the pixmaps folder. A null icon when none.
    static QIcon iconOfKey(const std::string& iconKey);

    // Without a desktop session Qt knows no icon theme (or only "hicolor", which has no MIME
    // icons): then Adwaita, where installed, becomes the theme, and it is the fallback of any
    // theme that lacks an icon. Runs once; a user's own theme is kept.
    static void prepareIconTheme();
};

} // namespace qtui
