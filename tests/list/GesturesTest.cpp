#include "list/Gestures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "list/MemoryListControl.h"

using gestures::FindFrom;
using gestures::HeaderPress;
using TypeAhead = gestures::TypeAhead<std::string>;

namespace {

bool AllShown(int) {
    return true;
}

} // namespace

TEST(TypeAheadTest, KeysCloserThanTheIntervalExtendOneText) {
    struct Step {
        const char* typed;
        std::int64_t at;
        const char* text;
    };
    const std::vector<Step> steps{
        {"c", 1000, "c"},
        {"h", 1050, "ch"},
        {"r", 1249, "chr"},
        {"o", 1449, "o"},
        {"n", 1450, "on"},
        {"s", 5000, "s"},
        {"", 5001, "s"},
        {"x", 4000, "x"}, // a clock that went back starts anew
        {"\xe4\xb8\xad", 4100, "x\xe4\xb8\xad"},
    };
    TypeAhead search;
    for (const Step& step : steps)
        EXPECT_EQ(search.type(step.typed, step.at), step.text) << step.typed << " at " << step.at;
}

TEST(TypeAheadTest, TheFirstKeyStartsATextWhateverTheClock) {
    TypeAhead search;
    EXPECT_EQ(search.type("a", 0), "a");
    EXPECT_EQ(search.type("b", 199), "ab");
    EXPECT_EQ(search.type("c", 399), "c");
}

TEST(TypeAheadTest, SearchesTheLastClickedShownColumnElseColumnOne) {
    TypeAhead search;
    EXPECT_EQ(search.searchColumn(AllShown), ColumnProcess);
    search.cellClicked(ColumnLocalAddr);
    EXPECT_EQ(search.searchColumn(AllShown), ColumnLocalAddr);
    search.cellClicked(NoColumn);
    search.cellClicked(ColumnCount);
    EXPECT_EQ(search.searchColumn(AllShown), ColumnLocalAddr);
    search.cellClicked(ColumnPath);
    EXPECT_EQ(search.searchColumn([](int column) { return column != ColumnPath; }), ColumnProcess);
    EXPECT_EQ(search.searchColumn(AllShown), ColumnPath);
}

TEST(FindFromTest, StartsAtTheGivenRowAndWrapsRound) {
    const std::vector<std::string> names{"cupsd", "sshd", "chronyd", "cron"};
    const auto startsWithC = [&](int row) { return names[std::size_t(row)].starts_with("c"); };
    EXPECT_EQ(FindFrom(0, 4, startsWithC), 0);
    EXPECT_EQ(FindFrom(1, 4, startsWithC), 2);
    EXPECT_EQ(FindFrom(3, 4, startsWithC), 3);
    EXPECT_EQ(FindFrom(-1, 4, startsWithC), 0);
    EXPECT_EQ(FindFrom(9, 4, startsWithC), 0);
    EXPECT_EQ(FindFrom(1, 4, [&](int row) { return names[std::size_t(row)] == "cupsd"; }), 0);
    EXPECT_EQ(FindFrom(0, 4, [](int) { return false; }), -1);
    EXPECT_EQ(FindFrom(0, 0, [](int) { return true; }), -1);
}

TEST(HeaderPressTest, ReleaseOverThePressedColumnIsItsClickElsewhereNoColumn) {
    HeaderPress header;
    EXPECT_FALSE(header.release(ColumnState).has_value()) << "no press, no click";

    header.press(ColumnState);
    EXPECT_TRUE(header.pressed());
    EXPECT_EQ(header.release(ColumnState), ColumnState);
    EXPECT_FALSE(header.pressed());
    EXPECT_FALSE(header.release(ColumnState).has_value()) << "one press, one click";

    header.press(ColumnState);
    EXPECT_EQ(header.release(ColumnLocalPort), NoColumn);
    header.press(ColumnState);
    EXPECT_EQ(header.release(NoColumn), NoColumn);

    header.press(ColumnState);
    header.cancel();
    EXPECT_FALSE(header.release(ColumnState).has_value());
}

TEST(SelectForMenuTest, TheRowUnderARightClickIsSelectedAndFocused) {
    MemoryListControl list;
    const RowHandle first = list.addRow();
    const RowHandle second = list.addRow();
    list.selectRow(first);
    list.setFocusedRow(first);

    gestures::SelectForMenu(list, second);
    EXPECT_EQ(list.selectedRow(), second);
    EXPECT_EQ(list.focusedRow(), second);
    EXPECT_EQ(list.selectedCount(), 1u);

    gestures::SelectForMenu(list, nullptr);
    EXPECT_EQ(list.selectedRow(), second) << "a click outside the rows keeps the selection";
    EXPECT_EQ(list.focusedRow(), second);
}

TEST(LimitWidthTest, WidthsStayBetweenTheColumnsLimits) {
    struct Case {
        int minWidth, maxWidth, wanted, scale, width;
    };
    const std::vector<Case> cases{
        {10, 10000, 5, 1, 10}, {10, 10000, 200, 1, 200}, {10, 10000, 20000, 1, 10000},
        {42, 42, 100, 1, 42},  {42, 42, 1, 1, 42},       {50, 20, 30, 1, 50}, // max below min
        {10, 100, 15, 2, 20},  {10, 100, 500, 2, 200},
    };
    for (const Case& c : cases) {
        ListColumn column;
        column.minWidth = c.minWidth;
        column.maxWidth = c.maxWidth;
        EXPECT_EQ(gestures::LimitWidth(column, c.wanted, [&](int px) { return px * c.scale; }),
                  c.width)
            << c.minWidth << ".." << c.maxWidth << " wanted " << c.wanted;
    }
    ListColumn fixed;
    fixed.minWidth = fixed.maxWidth = 42;
    EXPECT_TRUE(gestures::FixedWidth(fixed));
    EXPECT_FALSE(gestures::FixedWidth(ListColumn{}));
}
