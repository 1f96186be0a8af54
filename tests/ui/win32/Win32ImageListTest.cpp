// The icon cache's Win32 image lists, against the shell under Wine.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "list/ImageListEx.h"
#include "ui/win32/Win32ImageList.h"

using win32ui::Win32ImageStore;
using win32ui::Win32SystemImageList;

namespace {

// The shell's icon functions want COM on the calling thread.
class ImageListTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_com = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    }
    void TearDown() override {
        if (m_com)
            ::CoUninitialize();
    }

    static std::string notepad() {
        wchar_t folder[MAX_PATH] = {};
        const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
        std::wstring path(folder, length);
        path += L"\\notepad.exe";
        std::string utf8;
        for (wchar_t c : path)
            utf8 += static_cast<char>(c); // the system folder's name is ASCII
        return utf8;
    }

private:
    bool m_com = false;
};

SIZE iconSize(HIMAGELIST list) {
    int width = 0;
    int height = 0;
    ::ImageList_GetIconSize(list, &width, &height);
    return SIZE{width, height};
}

// A store of another toolkit: the system list cannot copy into it.
class OtherStore : public ImageStore {
public:
    int width() const override { return 16; }
    int height() const override { return 16; }
    void setWidth(int) override {}
    void setHeight(int) override {}
    int count() const override { return 0; }
    int addSystemIcon(int, bool) override { return -1; }
};

TEST_F(ImageListTest, StoreCountsAddedIconsAndFitsThemToItsSize) {
    Win32ImageStore store(16, 16);
    ASSERT_NE(store.handle(), nullptr);
    EXPECT_EQ(store.count(), 0);
    HICON application = ::LoadIconW(nullptr, IDI_APPLICATION); // shared: not destroyed
    ASSERT_NE(application, nullptr);
    EXPECT_EQ(store.addIcon(application), 0);
    EXPECT_EQ(store.addIcon(application), 1);
    EXPECT_EQ(store.count(), 2);
    EXPECT_EQ(store.addIcon(nullptr), -1);
    EXPECT_EQ(store.count(), 2);
    const SIZE size = iconSize(store.handle());
    EXPECT_EQ(size.cx, 16);
    EXPECT_EQ(size.cy, 16);
}

TEST_F(ImageListTest, NewSizeMakesAnEmptyListOfThatSize) {
    Win32ImageStore store;
    EXPECT_EQ(store.width(), 16);
    EXPECT_EQ(store.height(), 16);
    ASSERT_EQ(store.addIcon(::LoadIconW(nullptr, IDI_APPLICATION)), 0);
    store.setHeight(32);
    store.setWidth(32);
    ASSERT_NE(store.handle(), nullptr);
    EXPECT_EQ(store.count(), 0);
    const SIZE size = iconSize(store.handle());
    EXPECT_EQ(size.cx, 32);
    EXPECT_EQ(size.cy, 32);
    EXPECT_EQ(store.addIcon(::LoadIconW(nullptr, IDI_APPLICATION)), 0);
}

TEST_F(ImageListTest, ZeroSizeHoldsNothingAndDoesNotCrash) {
    Win32ImageStore store(0, 16);
    EXPECT_EQ(store.handle(), nullptr);
    EXPECT_EQ(store.count(), 0);
    EXPECT_EQ(store.addIcon(::LoadIconW(nullptr, IDI_APPLICATION)), -1);
}

TEST_F(ImageListTest, SystemListsExistInBothSizes) {
    HIMAGELIST small = Win32SystemImageList::systemList(true);
    HIMAGELIST large = Win32SystemImageList::systemList(false);
    ASSERT_NE(small, nullptr);
    ASSERT_NE(large, nullptr);
    EXPECT_GT(::ImageList_GetImageCount(small), 0);
    EXPECT_LT(iconSize(small).cx, iconSize(large).cx);
}

TEST_F(ImageListTest, NotepadHasASystemIconThatCopiesIntoBothCaches) {
    Win32SystemImageList system;
    const int index = system.iconIndexOfPath(notepad());
    ASSERT_GE(index, 0);
    EXPECT_EQ(system.iconIndexOfPath(notepad()), index);

    Win32ImageStore small(16, 16);
    Win32ImageStore large(32, 32);
    EXPECT_EQ(system.copyIcon(index, true, small), 0);
    EXPECT_EQ(system.copyIcon(index, false, large), 0);
    EXPECT_EQ(system.copyIcon(index, true, large), 1); // a small picture fitted to 32 x 32
    EXPECT_EQ(small.count(), 1);
    EXPECT_EQ(large.count(), 2);
}

TEST_F(ImageListTest, CopyRefusesWhatIsNotThere) {
    Win32SystemImageList system;
    Win32ImageStore store(16, 16);
    OtherStore other;
    const int index = system.iconIndexOfPath(notepad());
    ASSERT_GE(index, 0);
    EXPECT_LT(system.copyIcon(-1, true, store), 0);
    EXPECT_LT(system.copyIcon(1000000, true, store), 0);
    EXPECT_LT(system.copyIcon(index, true, other), 0);
    EXPECT_EQ(store.count(), 0);
    EXPECT_EQ(system.iconIndexOfPath(""), -1);
}

TEST_F(ImageListTest, CopiesLeaveNoIconBehind) {
    Win32SystemImageList system;
    const int index = system.iconIndexOfPath(notepad());
    ASSERT_GE(index, 0);
    Win32ImageStore store(16, 16);
    const DWORD before = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(system.copyIcon(index, i % 2 == 0, store), i);
    const DWORD after = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
    // Wine does not count user objects (both 0); Windows does, and each leaked icon is one.
    EXPECT_LT(after, before + 10);
}

TEST_F(ImageListTest, IconCacheGivesOneStableIndexPerIcon) {
    Win32SystemImageList system;
    TImageListEx cache(std::make_unique<Win32ImageStore>(16, 16), system);
    const int first = cache.IndexOfFile(notepad());
    ASSERT_GE(first, 0);
    EXPECT_EQ(cache.IndexOfFile(notepad()), first);
    EXPECT_EQ(cache.Count(), 1);
    EXPECT_EQ(cache.IndexOfFile(""), -1);
    EXPECT_EQ(cache.Count(), 1);
}

} // namespace
