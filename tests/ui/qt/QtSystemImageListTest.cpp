// The icon cache with the icon theme's real pictures, on the offscreen platform.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

#include <QGuiApplication>
#include <QIcon>
#include <QImage>

#include <unistd.h>

#include "list/ImageListEx.h"
#include "os/IconNames.h"
#include "ui/qt/QtSystemImageList.h"

using qtui::QtImageStore;
using qtui::QtSystemImageList;

namespace {

class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "qt_system_image_list_test";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QGuiApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QGuiApplication> m_app;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

std::string SelfPath() {
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

struct Cache {
    QtImageStore* store;
    TImageListEx list;
    Cache(QtSystemImageList& system, int size)
        : store(new QtImageStore(16, 16)), list(std::unique_ptr<ImageStore>(store), system) {
        list.SetHeight(size);
        list.SetWidth(size);
    }
};

bool HasVisiblePixels(const QPixmap& picture) {
    const QImage image = picture.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                return true;
    return false;
}

} // namespace

TEST(QtSystemImageList, EveryKindOfPathGetsAPictureOfTheListsSize) {
    QtSystemImageList system;
    EXPECT_FALSE(QIcon::themeName().isEmpty());
    const std::string paths[] = {SelfPath(),
                                 "/usr/bin/python3",
                                 "/nonexistent/report.pdf",
                                 "/nonexistent/notes.txt",
                                 "/nonexistent/program",
                                 "/tmp"};
    for (int size : {16, 32}) {
        Cache cache(system, size);
        for (const std::string& path : paths) {
            const int index = cache.list.IndexOfFile(path);
            ASSERT_GE(index, 0) << path << " key " << os::IconNameOfPath(path);
            const QPixmap picture = cache.store->picture(index);
            ASSERT_FALSE(picture.isNull()) << path;
            EXPECT_EQ((QSizeF(picture.size()) / picture.devicePixelRatio()).toSize(),
                      QSize(size, size))
                << path;
            EXPECT_TRUE(HasVisiblePixels(picture)) << path;
        }
    }
}

TEST(QtSystemImageList, SameIconIsCopiedOncePerList) {
    QtSystemImageList system;
    Cache small(system, 16);
    Cache large(system, 32);
    const std::string self = SelfPath();
    // Both are executables without a desktop entry: one system icon.
    const int first = small.list.IndexOfFile(self);
    const int count = small.list.Count();
    EXPECT_EQ(small.list.IndexOfFile("/nonexistent-folder/../" + self), first);
    EXPECT_EQ(small.list.Count(), count);
    // The system index is the same for the small and the large list.
    EXPECT_EQ(system.iconIndexOfPath(self), os::SystemIconIndexOfPath(self));
    EXPECT_GE(large.list.IndexOfFile(self), 0);
    EXPECT_FALSE(small.list.SystemImagesList()->small() == large.list.SystemImagesList()->small());
}

TEST(QtSystemImageList, IconThatNoThemeHasIsRetried) {
    QtSystemImageList system;
    Cache cache(system, 16);
    const int missing = os::SystemIconIndexOfName("kestrel-no-such-icon-anywhere");
    EXPECT_LT(cache.list.IndexOfSystemIcon(missing), 0);
    EXPECT_EQ(cache.list.Count(), 0);
    EXPECT_TRUE(cache.list.SystemIndices()->empty());
    EXPECT_TRUE(QtSystemImageList::iconOfKey("kestrel-no-such-icon;/nonexistent.png").isNull());
    EXPECT_FALSE(
        QtSystemImageList::iconOfKey("kestrel-no-such-icon;application-x-executable").isNull());
    EXPECT_EQ(cache.store->picture(0).isNull(), true);
    EXPECT_EQ(cache.store->picture(-1).isNull(), true);
}
