// The icon cache's bookkeeping, over a fake system image list and a fake picture store.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "list/ImageListEx.h"

namespace {

class FakeStore : public ImageStore {
public:
    FakeStore(int width, int height, int preloaded = 0) : m_width(width), m_height(height) {
        for (int i = 0; i < preloaded; ++i)
            pictures.push_back(-1);
    }
    int width() const override { return m_width; }
    int height() const override { return m_height; }
    void setWidth(int width) override { m_width = width; }
    void setHeight(int height) override { m_height = height; }
    int count() const override { return static_cast<int>(pictures.size()); }
    int addSystemIcon(int systemIndex, bool) override {
        pictures.push_back(systemIndex);
        return count() - 1;
    }

    std::vector<int> pictures; // the system index each picture was copied from; -1 for stored ones

private:
    int m_width;
    int m_height;
};

class FakeSystem : public SystemImageList {
public:
    int iconIndexOfPath(const std::string& path) override {
        ++pathRequests;
        auto found = indexOfPath.find(path);
        return found == indexOfPath.end() ? -1 : found->second;
    }
    int copyIcon(int systemIndex, bool small, ImageStore& target) override {
        copies.push_back({systemIndex, small});
        if (failing.count(systemIndex) != 0)
            return -1;
        return target.addSystemIcon(systemIndex, small);
    }

    std::map<std::string, int> indexOfPath;
    std::set<int> failing;
    std::vector<std::pair<int, bool>> copies;
    int pathRequests = 0;
};

struct Cache {
    FakeSystem system;
    FakeStore* store;
    std::unique_ptr<TImageListEx> list;

    explicit Cache(int width = 16, int height = 16, int preloaded = 0) {
        auto owned = std::make_unique<FakeStore>(width, height, preloaded);
        store = owned.get();
        list = std::make_unique<TImageListEx>(std::move(owned), system);
    }
};

} // namespace

TEST(TImageListEx, EachSystemIconIsCopiedOnce) {
    struct Case {
        int preloaded;
        std::vector<int> requests;
        std::vector<int> results;
        std::vector<int> copied;
    };
    const Case cases[] = {
        {0, {7, 3, 7, 12, 3}, {0, 1, 0, 2, 1}, {7, 3, 12}},
        {5, {9, 9}, {5, 5}, {9}}, // copies follow the images stored with the layout
        {5, {4, 0, 4}, {5, 6, 5}, {4, 0}},
        {0, {0}, {0}, {0}}, // index 0 is an icon like any other
    };
    for (const Case& c : cases) {
        Cache cache(16, 16, c.preloaded);
        cache.list->Loaded();
        EXPECT_EQ(cache.list->LoadedCount(), c.preloaded);
        std::vector<int> results;
        for (int request : c.requests)
            results.push_back(cache.list->IndexOfSystemIcon(request));
        EXPECT_EQ(results, c.results);
        ASSERT_NE(cache.list->SystemIndices(), nullptr);
        EXPECT_EQ(*cache.list->SystemIndices(), c.copied);
        EXPECT_EQ(cache.list->Count(), c.preloaded + static_cast<int>(c.copied.size()));
        // The invariant: image LoadedCount + i is the copy of SystemIndices[i].
        for (std::size_t i = 0; i < c.copied.size(); ++i)
            EXPECT_EQ(cache.store->pictures[static_cast<std::size_t>(c.preloaded) + i],
                      c.copied[i]);
    }
}

TEST(TImageListEx, NegativeIndexCreatesNothing) {
    Cache cache;
    EXPECT_EQ(cache.list->IndexOfSystemIcon(-1), -1);
    EXPECT_EQ(cache.list->IndexOfSystemIcon(-7), -1);
    EXPECT_EQ(cache.list->IndexOfFile("/no/icon/for/this"), -1);
    EXPECT_EQ(cache.list->SystemIndices(), nullptr);
    EXPECT_EQ(cache.list->SystemImagesList(), nullptr);
    EXPECT_TRUE(cache.system.copies.empty());
    EXPECT_EQ(cache.list->Count(), 0);
}

TEST(TImageListEx, PathsWithTheSameSystemIconShareOneImage) {
    Cache cache;
    cache.system.indexOfPath = {
        {"/usr/bin/a", 4}, {"/usr/bin/b", 4}, {"/usr/bin/c", 9}, {"/missing/x.txt", 2}};
    EXPECT_EQ(cache.list->IndexOfFile("/usr/bin/a"), 0);
    EXPECT_EQ(cache.list->IndexOfFile("/usr/bin/b"), 0);
    EXPECT_EQ(cache.list->IndexOfFile("/usr/bin/c"), 1);
    EXPECT_EQ(cache.list->IndexOfFile("/missing/x.txt"), 2);
    EXPECT_EQ(cache.list->IndexOfFile("/usr/bin/a"), 0);
    EXPECT_EQ(cache.list->Count(), 3);
    EXPECT_EQ(cache.system.copies.size(), 3u);
    // No cache by path: every request asks the system again.
    EXPECT_EQ(cache.system.pathRequests, 5);
}

TEST(TImageListEx, FailedCopyIsNotRemembered) {
    Cache cache;
    cache.system.failing = {5};
    EXPECT_EQ(cache.list->IndexOfSystemIcon(5), -1);
    EXPECT_TRUE(cache.list->SystemIndices()->empty());
    EXPECT_EQ(cache.list->IndexOfSystemIcon(8), 0);
    EXPECT_EQ(cache.list->IndexOfSystemIcon(5), -1);
    EXPECT_EQ(cache.system.copies.size(), 3u); // tried again
    cache.system.failing.clear();
    EXPECT_EQ(cache.list->IndexOfSystemIcon(5), 1);
    EXPECT_EQ(cache.list->IndexOfSystemIcon(5), 1);
    EXPECT_EQ(*cache.list->SystemIndices(), (std::vector<int>{8, 5}));
}

TEST(TImageListEx, WidthAloneChoosesTheSystemList) {
    struct Case {
        int width;
        int height;
        bool small;
    };
    const Case cases[] = {
        {16, 16, true}, {16, 32, true}, {32, 32, false}, {24, 24, false}, {32, 16, false}};
    for (const Case& c : cases) {
        Cache cache(c.width, c.height);
        cache.list->EnsureSystemList();
        const SystemImages* system = cache.list->SystemImagesList();
        ASSERT_NE(system, nullptr);
        EXPECT_TRUE(system->attached());
        EXPECT_EQ(system->small(), c.small) << c.width << "x" << c.height;
        EXPECT_EQ(system->width(), c.width);
        EXPECT_EQ(system->height(), c.height);
        cache.list->IndexOfSystemIcon(1);
        ASSERT_EQ(cache.system.copies.size(), 1u);
        EXPECT_EQ(cache.system.copies[0].second, c.small);
    }
}

TEST(TImageListEx, LargeListSizedAfterCreation) {
    // LargeIcons: created at the default size, then height and width set to 32.
    Cache cache(16, 16);
    cache.list->SetHeight(32);
    cache.list->SetWidth(32);
    cache.list->IndexOfSystemIcon(3);
    EXPECT_FALSE(cache.list->SystemImagesList()->small());
}

TEST(TImageListEx, EnsureSystemListIsIdempotent) {
    Cache cache;
    cache.list->EnsureSystemList();
    const SystemImages* first = cache.list->SystemImagesList();
    const std::vector<int>* indices = cache.list->SystemIndices();
    cache.list->EnsureSystemList();
    EXPECT_EQ(cache.list->SystemImagesList(), first);
    EXPECT_EQ(cache.list->SystemIndices(), indices);
}
