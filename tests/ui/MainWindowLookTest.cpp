// The main window's description: the places it computes and the tables it holds.
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ui/MainWindowLook.h"

namespace {

LookRect at(const std::vector<LookRect>& places, MainControl control) {
    return places[static_cast<std::size_t>(control)];
}

// A text one pixel wide per byte of its caption, 13 high; a check box 100 wide.
LookRect fakeText(MainControl control) {
    const MainControlLook& look = MainWindowLook::Control(control);
    if (look.kind == ControlKind::CheckBox)
        return {0, 0, 100, 13};
    return {0, 0, static_cast<int>(std::string(look.caption).size()), 13};
}

TEST(MainWindowLook, DesignSizePlacesEveryControl) {
    const auto places = MainWindowLook::Layout(
        746, 433, [](int pixels) { return pixels; }, fakeText);
    EXPECT_EQ(at(places, MainControl::PTop), (LookRect{0, 0, 746, 34}));
    EXPECT_EQ(at(places, MainControl::VTS), (LookRect{0, 34, 746, 433 - 34 - 28}));
    EXPECT_EQ(at(places, MainControl::PBottom), (LookRect{0, 405, 746, 28}));
    // The top right, side by side up to one pixel from the edge: 选项, 帮助, 更新, 主页.
    EXPECT_EQ(at(places, MainControl::BTNHomePage), (LookRect{746 - 1 - 86, 1, 86, 32}));
    EXPECT_EQ(at(places, MainControl::BTNUpdate), (LookRect{746 - 1 - 172, 1, 86, 32}));
    EXPECT_EQ(at(places, MainControl::BTNHelp), (LookRect{746 - 1 - 246, 1, 74, 32}));
    EXPECT_EQ(at(places, MainControl::BTNOptions), (LookRect{746 - 1 - 320, 1, 74, 32}));
    // The sentence reads on from the left, centred in the panel.
    int x = 6;
    for (const MainControlLook& look : MainWindowLook::TopSentence()) {
        const LookRect place = at(places, look.control);
        EXPECT_EQ(place.left, x) << look.objectName;
        EXPECT_EQ(place.top, (34 - 13) / 2) << look.objectName;
        x += place.width;
    }
    // The bottom row from the left.
    EXPECT_EQ(at(places, MainControl::CBShowLocal), (LookRect{8, 411, 100, 17}));
    EXPECT_EQ(at(places, MainControl::CBAutoRefresh), (LookRect{118, 411, 100, 17}));
    EXPECT_EQ(at(places, MainControl::CBAlwaysTop), (LookRect{228, 411, 100, 17}));
    EXPECT_EQ(at(places, MainControl::BTNRefresh), (LookRect{346, 406, 80, 26}));
    EXPECT_EQ(at(places, MainControl::BTNEndPro), (LookRect{426, 406, 110, 26}));
    EXPECT_EQ(at(places, MainControl::CBShowInfo), (LookRect{546, 411, 100, 17}));
}

TEST(MainWindowLook, ScaledAndResizedTheBottomRowKeepsItsPlacesFromTheLeft) {
    const auto scale = [](int pixels) { return pixels * 3 / 2; };
    const auto small = MainWindowLook::Layout(1119, 650, scale, fakeText);
    const auto large = MainWindowLook::Layout(1400, 800, scale, fakeText);
    EXPECT_EQ(at(small, MainControl::BTNRefresh).width, 120);
    EXPECT_EQ(at(small, MainControl::BTNRefresh).height, 39);
    EXPECT_EQ(at(small, MainControl::BTNHelp).height, 48);
    for (const MainControlLook& look : MainWindowLook::BottomRow()) {
        EXPECT_EQ(at(large, look.control).left, at(small, look.control).left) << look.objectName;
        EXPECT_EQ(at(large, look.control).top, at(small, look.control).top + 150)
            << look.objectName;
    }
    // Too small a window: the list shrinks to nothing, never below.
    EXPECT_EQ(at(MainWindowLook::Layout(100, 20, scale, fakeText), MainControl::VTS).height, 0);
}

TEST(MainWindowLook, TablesNameEveryControlAndItemOnce) {
    std::set<MainControl> named;
    for (const auto* row : {&MainWindowLook::TopSentence(), &MainWindowLook::TopRight(),
                            &MainWindowLook::BottomRow()}) {
        for (const MainControlLook& look : *row) {
            EXPECT_TRUE(named.insert(look.control).second) << look.objectName;
            EXPECT_NE(look.caption, nullptr) << look.objectName;
        }
    }
    // and the 2 panels, the list and the filter field
    EXPECT_EQ(named.size(), static_cast<std::size_t>(MainControl::Count) - 4);
    // Every control but the sentence's labels and the panels takes part in the keyboard's order.
    const std::vector<MainControl>& order = MainWindowLook::TabOrder();
    EXPECT_EQ(std::set<MainControl>(order.begin(), order.end()).size(), order.size());
    EXPECT_EQ(order.size(),
              MainWindowLook::TopRight().size() + MainWindowLook::BottomRow().size() + 2);

    std::set<ContextItem> items;
    for (const MenuLine<ContextItem>& line : MainWindowLook::ContextMenu()) {
        if (line.caption) {
            EXPECT_TRUE(items.insert(line.item).second) << line.caption;
        }
    }
    EXPECT_EQ(items.size(), static_cast<std::size_t>(ContextItem::Count));
    std::set<OptionItem> options;
    std::set<std::string> keys;
    for (const OptionLook& option : MainWindowLook::OptionsMenu()) {
        EXPECT_TRUE(options.insert(option.item).second) << option.caption;
        EXPECT_TRUE(keys.insert(option.key).second) << option.key;
    }
    EXPECT_EQ(options.size(), static_cast<std::size_t>(OptionItem::Count));
}

TEST(MainWindowLook, MarkedRowsTakeTheirColourOverTheColumnsOwn) {
    ListColumn plain;
    ListColumn tinted;
    tinted.hasBackground = true;
    tinted.background = Rgb{255, 255, 236};
    struct Case {
        const char* mark;
        const ListColumn& column;
        std::optional<LookRgb> expected;
    };
    const Case cases[] = {
        {"", plain, std::nullopt},
        {"", tinted, LookRgb{255, 255, 236}},
        {"add", plain, MainWindowLook::AddedRowColour},
        {"add", tinted, MainWindowLook::AddedRowColour},
        {"md", plain, MainWindowLook::ChangedRowColour},
        {"md", tinted, MainWindowLook::ChangedRowColour},
        {"ADD", plain, std::nullopt},
        {"other", tinted, LookRgb{255, 255, 236}},
    };
    for (const Case& c : cases) {
        TMyRec row;
        row.Mark = c.mark;
        EXPECT_EQ(MainWindowLook::CellBackground(row, c.column), c.expected) << c.mark;
    }
    EXPECT_NE(MainWindowLook::AddedRowColour, MainWindowLook::ChangedRowColour);
}

} // namespace
