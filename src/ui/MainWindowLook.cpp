#include "ui/MainWindowLook.h"

#include <algorithm>
#include <stdexcept>

namespace MainWindowLook {

namespace {

constexpr LookRgb CountRed{0xFF, 0x00, 0x00};
constexpr LookRgb CountBlue{0x00, 0x00, 0xFF};

MainControlLook sentence(MainControl control, const char* caption, const char* objectName,
                         bool bold = false, bool hasColour = false, LookRgb colour = {0, 0, 0}) {
    return {control, ControlKind::Label, caption, objectName, nullptr, 0, 0,
            bold,    hasColour,          colour};
}

MainControlLook button(MainControl control, const char* caption, const char* objectName,
                       const char* picture, int width, int gapBefore = 0) {
    return {control, ControlKind::Button, caption, objectName, picture, width, gapBefore};
}

MainControlLook box(MainControl control, const char* caption, const char* objectName, bool checked,
                    int tag, int gapBefore) {
    MainControlLook look{control,  ControlKind::CheckBox, caption, objectName, nullptr, 0,
                         gapBefore};
    look.checked = checked;
    look.tag = tag;
    return look;
}

} // namespace

const std::vector<MainControlLook>& TopSentence() {
    static const std::vector<MainControlLook> looks{
        sentence(MainControl::Label1, "当前有", "Label1"),
        // The counters start at "0" until the first fill.
        sentence(MainControl::LabAppCount, "0", "LabAppCount", true, true, CountRed),
        sentence(MainControl::Label3, "个程序已连接或尝试连接网络，共建立", "Label3"),
        sentence(MainControl::LabNetCount, "0", "LabNetCount", true, true, CountBlue),
        sentence(MainControl::Label5, "个连接。", "Label5"),
    };
    return looks;
}

const std::vector<MainControlLook>& TopRight() {
    static const std::vector<MainControlLook> looks{
        button(MainControl::BTNOptions, "选项", "BTNOptions", "options", 74),
        button(MainControl::BTNHelp, "帮助", "BTNHelp", "help", 74),
        button(MainControl::BTNUpdate, "更新", "BTNUpdate", "update", 86),
        button(MainControl::BTNHomePage, "主页", "BTNHomePage", "homepage", 86),
    };
    return looks;
}

std::string ShownCountText(std::size_t shown) {
    return "显示 " + std::to_string(shown) + " 项";
}

std::string FilteredSentenceEnd(std::size_t shown) {
    return "个连接，" + ShownCountText(shown) + "。";
}

const std::vector<MainControlLook>& BottomRow() {
    static const std::vector<MainControlLook> looks{
        box(MainControl::CBShowLocal, "显示本地连接", "CBShowLocal", true, 1, 0),
        box(MainControl::CBAutoRefresh, "自动刷新", "CBAutoRefresh", false, 2, 10),
        box(MainControl::CBAlwaysTop, "始终保持在其他窗口前端", "CBAlwaysTop", StartsOnTop, 3, 10),
        button(MainControl::BTNRefresh, "刷新", "BTNRefresh", "refresh", 80, 18),
        button(MainControl::BTNEndPro, "结束进程", "BTNEndPro", "endprocess", 110),
        box(MainControl::CBShowInfo, "显示文件详细信息", "CBShowInfo", false, 4, 10),
    };
    return looks;
}

const MainControlLook& Control(MainControl control) {
    static const std::vector<MainControlLook> others{
        {MainControl::PTop, ControlKind::Panel, nullptr, "PTop", nullptr, 0, 0},
        {MainControl::VTS, ControlKind::List, nullptr, "VTS", nullptr, 0, 0},
        {MainControl::PBottom, ControlKind::Panel, nullptr, "PBottom", nullptr, 0, 0},
        {MainControl::EFilter, ControlKind::TextField, "筛选", "EFilter", nullptr, FilterWidth,
         FilterGap},
    };
    for (const auto* table : {&TopSentence(), &TopRight(), &BottomRow(), &others}) {
        for (const MainControlLook& look : *table) {
            if (look.control == control)
                return look;
        }
    }
    throw std::logic_error("A control of the main window has no description");
}

const std::vector<MainControl>& TabOrder() {
    // BTNOptions and EFilter came after the others and join the end, so that their order stays.
    static const std::vector<MainControl> order{
        MainControl::VTS,         MainControl::BTNRefresh,    MainControl::BTNEndPro,
        MainControl::CBShowLocal, MainControl::CBAutoRefresh, MainControl::CBAlwaysTop,
        MainControl::CBShowInfo,  MainControl::BTNHelp,       MainControl::BTNUpdate,
        MainControl::BTNHomePage, MainControl::BTNOptions,    MainControl::EFilter,
    };
    return order;
}

const std::vector<MenuLine<ContextItem>>& ContextMenu() {
    static const std::vector<MenuLine<ContextItem>> lines{
        {ContextItem::NProcInfo, "进程信息"},    {ContextItem::Count, nullptr},
        {ContextItem::NEndProc, "结束进程(&E)"}, {ContextItem::NCloseConnection, "断开连接"},
        {ContextItem::Count, nullptr},           {ContextItem::NCopy, "拷贝到剪贴板"},
        {ContextItem::NExport, "导出列表..."},   {ContextItem::NLocate, "定位文件"},
        {ContextItem::NProperty, "属性(&R)"},    {ContextItem::NViewLog, "查看连接记录"},
    };
    return lines;
}

const char* ContextCaption(ContextItem item) {
    for (const MenuLine<ContextItem>& line : ContextMenu()) {
        if (line.caption != nullptr && line.item == item)
            return line.caption;
    }
    throw std::logic_error("A context menu item has no description");
}

const std::vector<OptionLook>& OptionsMenu() {
    static const std::vector<OptionLook> options{
        {OptionItem::ShowIPv6, "显示IPv6连接", "ShowIPv6", false},
        {OptionItem::ResolveNames, "解析主机名", "ResolveNames", false},
        {OptionItem::ShowTraffic, "显示流量", "ShowTraffic", false},
    };
    return options;
}

const std::vector<MenuLine<OptionCommand>>& OptionsCommands() {
    static const std::vector<MenuLine<OptionCommand>> lines{
        {OptionCommand::Count, nullptr},
        {OptionCommand::NConnectionLog, "连接记录"},
    };
    return lines;
}

const OptionLook& Option(OptionItem item) {
    for (const OptionLook& option : OptionsMenu()) {
        if (option.item == item)
            return option;
    }
    throw std::logic_error("An option has no description");
}

std::vector<int> OptionColumns(OptionItem item) {
    switch (item) {
    case OptionItem::ResolveNames:
        return {ColumnRemoteHost};
    case OptionItem::ShowTraffic:
        return {ColumnSent, ColumnReceived, ColumnSendRate, ColumnReceiveRate};
    default:
        return {};
    }
}

std::optional<LookRgb> CellBackground(const TMyRec& row, const ListColumn& column) {
    if (row.Mark == "add")
        return AddedRowColour;
    if (row.Mark == "md")
        return ChangedRowColour;
    if (column.hasBackground)
        return LookRgb{column.background.r, column.background.g, column.background.b};
    return std::nullopt;
}

std::vector<LookRect> Layout(int width, int height, const std::function<int(int)>& scale,
                             const std::function<LookRect(MainControl)>& textSize) {
    std::vector<LookRect> places(static_cast<std::size_t>(MainControl::Count));
    auto place = [&places](MainControl control) -> LookRect& {
        return places[static_cast<std::size_t>(control)];
    };
    const int topHeight = scale(TopPanelHeight);
    const int bottomHeight = scale(BottomPanelHeight);
    place(MainControl::PTop) = {0, 0, width, topHeight};
    place(MainControl::VTS) = {0, topHeight, width, std::max(0, height - topHeight - bottomHeight)};
    place(MainControl::PBottom) = {0, height - bottomHeight, width, bottomHeight};

    int x = scale(SentenceLeft);
    for (const MainControlLook& look : TopSentence()) {
        const LookRect size = textSize(look.control);
        place(look.control) = {x, (topHeight - size.height) / 2, size.width, size.height};
        x += size.width;
    }

    const int buttonHeight = scale(TopButtonHeight);
    int rightWidth = 0;
    for (const MainControlLook& look : TopRight())
        rightWidth += scale(look.gapBefore) + scale(look.width);
    x = width - scale(TopRightMargin) - rightWidth;
    for (const MainControlLook& look : TopRight()) {
        x += scale(look.gapBefore);
        place(look.control) = {x, (topHeight - buttonHeight) / 2, scale(look.width), buttonHeight};
        x += scale(look.width);
    }

    // The filter field fills the room between the sentence's end and the buttons up to its
    // width; while the sentence needs the room it narrows, never below its minimum.
    const int sentenceEnd = place(MainControl::Label5).left + place(MainControl::Label5).width;
    const int buttonsLeft = place(TopRight().front().control).left;
    const int gap = scale(FilterGap);
    const int filterWidth = std::clamp(buttonsLeft - sentenceEnd - 2 * gap,
                                       scale(FilterMinimumWidth), scale(FilterWidth));
    const int filterHeight = scale(FilterHeight);
    place(MainControl::EFilter) = {buttonsLeft - gap - filterWidth, (topHeight - filterHeight) / 2,
                                   filterWidth, filterHeight};

    const int bottomTop = height - bottomHeight;
    x = scale(BottomLeft);
    for (const MainControlLook& look : BottomRow()) {
        x += scale(look.gapBefore);
        if (look.kind == ControlKind::CheckBox) {
            const int boxWidth = look.width > 0 ? scale(look.width) : textSize(look.control).width;
            place(look.control) = {x, bottomTop + scale(BoxTop), boxWidth, scale(BoxHeight)};
            x += boxWidth;
        } else {
            place(look.control) = {x, bottomTop + scale(BottomButtonTop), scale(look.width),
                                   scale(BottomButtonHeight)};
            x += scale(look.width);
        }
    }
    return places;
}

} // namespace MainWindowLook
