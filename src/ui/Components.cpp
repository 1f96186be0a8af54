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

void Button::setEnabled(bool enabled) {
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    enabledChanged();
}

void Button::setCaption(const std::string& caption) {
    if (caption == m_caption)
        return;
    m_caption = caption;
    captionChanged();
}

void Button::click() {
    if (m_onClick)
        m_onClick();
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

void MenuItem::setEnabled(bool enabled) {
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    enabledChanged();
}

void MenuItem::setCaption(const std::string& caption) {
    if (caption == m_caption)
        return;
    m_caption = caption;
    captionChanged();
}

void MenuItem::click() {
    if (m_enabled && m_onClick)
        m_onClick();
}

} // namespace ui
