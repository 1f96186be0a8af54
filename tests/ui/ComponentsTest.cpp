// The "clicks from code" conventions of the component layer.
#include <stdexcept>

#include <gtest/gtest.h>

#include "ui/Components.h"
#include "ui/FakeComponents.h"

TEST(Components, ButtonClickFromCodeRunsHandlerEvenWhenDisabled) {
    FakeButton button;
    int clicks = 0;
    button.setOnClick([&] { ++clicks; });
    button.click();
    button.setEnabled(false);
    button.click();
    EXPECT_EQ(clicks, 2);
    EXPECT_FALSE(button.enabled());
    EXPECT_EQ(button.enabledChanges, 1);
}

TEST(Components, CheckBoxRunsClickHandlerOnlyOnAChange) {
    FakeCheckBox box;
    std::vector<bool> seen;
    box.setOnClick([&] { seen.push_back(box.checked()); });
    box.setChecked(false); // already unchecked
    box.setChecked(true);
    box.setChecked(true);
    box.setChecked(false);
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
    EXPECT_EQ(box.checkedChanges, 2);
}

TEST(Components, CheckBoxKeepsNewStateWhenHandlerThrows) {
    FakeCheckBox box;
    box.setOnClick([] { throw std::runtime_error("refused"); });
    EXPECT_THROW(box.setChecked(true), std::runtime_error);
    EXPECT_TRUE(box.checked());
}

TEST(Components, MenuItemClickRunsHandlerOnlyWhileEnabled) {
    FakeMenuItem item;
    int clicks = 0;
    item.setOnClick([&] { ++clicks; });
    item.click();
    item.setEnabled(false);
    item.click();
    item.setEnabled(true);
    item.click();
    EXPECT_EQ(clicks, 2);
}

TEST(Components, TimerEnablingStartsAFreshIntervalAndTicksOnlyWhileEnabled) {
    FakeTimer timer;
    int ticks = 0;
    timer.setOnTimer([&] { ++ticks; });
    timer.setInterval(10000);
    timer.tick();
    EXPECT_EQ(ticks, 0);

    timer.setEnabled(true);
    timer.setEnabled(true);
    EXPECT_EQ(timer.starts, 2);
    timer.tick();
    EXPECT_EQ(ticks, 1);

    timer.setEnabled(false);
    timer.setEnabled(false); // stopping a stopped timer changes nothing
    timer.tick();
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(timer.interval(), 10000);
}

TEST(Components, DispatchEventReportsEscapingErrorsAndGoesOn) {
    struct Case {
        ui::EventHandler handler;
        std::vector<std::string> errors;
    };
    const Case cases[] = {
        {[] {}, {}},
        {[] { throw std::runtime_error("Unable to write to /x/Kestrel.ini"); },
         {"Unable to write to /x/Kestrel.ini"}},
        {[] { throw 42; }, {"Unknown error"}},
        {ui::EventHandler{}, {}},
    };
    for (const Case& c : cases) {
        FakeMessageBoxes boxes;
        ui::dispatchEvent(boxes, c.handler);
        EXPECT_EQ(boxes.errors, c.errors);
    }
}

TEST(Components, TextFieldRunsChangeHandlerOnlyOnANewText) {
    FakeTextField field;
    std::vector<std::string> seen;
    field.setOnChange([&] { seen.push_back(field.text()); });
    field.setText(""); // already empty
    field.setText("fire");
    field.setText("fire");
    field.setText("");
    EXPECT_EQ(seen, (std::vector<std::string>{"fire", ""}));
    EXPECT_EQ(field.textChanges, 2);
    field.setPlaceholder("筛选");
    EXPECT_EQ(field.placeholder(), "筛选");
    EXPECT_TRUE(seen.size() == 2) << "the placeholder is no text";
    field.setFocus();
    EXPECT_EQ(field.focusRequests, 1);
}

TEST(Components, TextFieldKeepsNewTextWhenHandlerThrows) {
    FakeTextField field;
    field.setOnChange([] { throw std::runtime_error("boom"); });
    EXPECT_THROW(field.setText("x"), std::runtime_error);
    EXPECT_EQ(field.text(), "x");
}
