#include "ui/Components.h"

#include <exception>

namespace ui {

void dispatchEvent(ErrorReport& report, const EventHandler& handler) noexcept {
    std::string text;
    try {
        if (handler)
            handler();
        return;
    } catch (const std::exception& error) {
        text = error.what();
    } catch (...) {
        text = "Unknown error";
    }
    // The report opens a modal box; an error of the box itself must not leave the event loop.
    try {
        report.showError(text);
    } catch (...) {
    }
}

void CommandControl::setEnabled(bool enabled) {
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    enabledChanged();
}

void CommandControl::setCaption(const std::string& caption) {
    if (caption == m_caption)
        return;
    m_caption = caption;
    captionChanged();
}

void CommandControl::runClickHandler() const {
    if (m_onClick)
        m_onClick();
}

void Button::click() {
    runClickHandler();
}

void CheckBox::setChecked(bool checked) {
    if (checked == m_checked)
        return;
    m_checked = checked;
    checkedChanged();
    if (m_onClick)
        m_onClick();
}

void CheckBox::setCaption(const std::string& caption) {
    if (caption == m_caption)
        return;
    m_caption = caption;
    captionChanged();
}

void Label::setCaption(const std::string& caption) {
    if (caption == m_caption)
        return;
    m_caption = caption;
    captionChanged();
}

void Timer::setEnabled(bool enabled) {
    if (!enabled && !m_enabled)
        return;
    m_enabled = enabled;
    scheduleChanged();
}

void Timer::setInterval(int milliseconds) {
    if (milliseconds == m_interval)
        return;
    m_interval = milliseconds;
    scheduleChanged();
}

void Timer::tick() {
    if (m_enabled && m_onTimer)
        m_onTimer();
}

void MenuItem::click() {
    if (!enabled())
        return;
    if (m_checkable)
        setChecked(!m_checked);
    else
        runClickHandler();
}

void TextField::setText(const std::string& text) {
    if (text == m_text)
        return;
    m_text = text;
    textChanged();
    if (m_onChange)
        m_onChange();
}

void TextField::setPlaceholder(const std::string& placeholder) {
    if (placeholder == m_placeholder)
        return;
    m_placeholder = placeholder;
    placeholderChanged();
}

void MenuItem::setCheckable(bool checkable) {
    if (checkable == m_checkable)
        return;
    m_checkable = checkable;
    checkedChanged();
}

void MenuItem::setChecked(bool checked) {
    if (checked == m_checked)
        return;
    m_checked = checked;
    checkedChanged();
    runClickHandler();
}

} // namespace ui
