#pragma once
// What the window logic needs of a user-interface toolkit, written once and free of any toolkit.
//
// The controls are small state holders: the logic sets their state, the toolkit layer (Qt, or
// the plain fakes of the tests) overrides the protected hooks to mirror that state on screen and
// forwards the user's actions through the public operations, each wrapped in dispatchEvent.
// The "clicks from code" rules live here and nowhere else:
//  - a button clicked from code always runs its handler, also while it is disabled;
//  - setting a check box to a different state runs its click handler, as a user's click does;
//  - a menu item clicked from code runs its handler only while it is enabled;
//  - enabling a timer starts a fresh interval.
// An error raised by a handler passes through these operations to their caller; the event
// loop's boundary (dispatchEvent) hands it to the general error report.
#include <functional>
#include <string>

namespace ui {

// The application title: caption of every message box.
inline constexpr const char* ApplicationTitle = "Kestrel";

using EventHandler = std::function<void()>;

// The application's general error report.
class ErrorReport {
public:
    virtual ~ErrorReport() = default;
    // A modal box captioned with the application title, showing `text` with an error icon.
    virtual void showError(const std::string& text) = 0;
};

// Runs one event taken from the toolkit's loop. An error escaping `handler` goes to `report`
// (its what() text; "Unknown error" for anything else) and the program goes on. Never throws.
void dispatchEvent(ErrorReport& report, const EventHandler& handler) noexcept;

// What a button and a menu item share: a caption, an enabled state the toolkit mirrors, and a
// click handler. They differ only in what a click does while disabled.
class CommandControl {
public:
    virtual ~CommandControl() = default;
    CommandControl(const CommandControl&) = delete;
    CommandControl& operator=(const CommandControl&) = delete;

    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    const std::string& caption() const { return m_caption; }
    void setCaption(const std::string& caption);
    void setOnClick(EventHandler handler) { m_onClick = std::move(handler); }

protected:
    CommandControl() = default;
    void runClickHandler() const;
    virtual void enabledChanged() {}
    virtual void captionChanged() {}

private:
    bool m_enabled = true;
    std::string m_caption;
    EventHandler m_onClick;
};

class Button : public CommandControl {
public:
    // A click by the user or from code: runs the click handler, even while the button is
    // disabled. The handler's errors reach the caller.
    void click();
};

class CheckBox {
public:
    CheckBox() = default;
    virtual ~CheckBox() = default;
    CheckBox(const CheckBox&) = delete;
    CheckBox& operator=(const CheckBox&) = delete;

    bool checked() const { return m_checked; }
    // A different state is stored, mirrored, and then runs the click handler (whose errors
    // reach the caller); the same state does nothing. A user's click is setChecked(!checked()).
    void setChecked(bool checked);
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    const std::string& caption() const { return m_caption; }
    void setCaption(const std::string& caption);
    void setOnClick(EventHandler handler) { m_onClick = std::move(handler); }

protected:
    virtual void checkedChanged() {}
    virtual void captionChanged() {}

private:
    bool m_checked = false;
    int m_tag = 0;
    std::string m_caption;
    EventHandler m_onClick;
};

class Label {
public:
    Label() = default;
    virtual ~Label() = default;
    Label(const Label&) = delete;
    Label& operator=(const Label&) = delete;

    const std::string& caption() const { return m_caption; }
    void setCaption(const std::string& caption);

protected:
    virtual void captionChanged() {}

private:
    std::string m_caption;
};

// A one-line text field with a placeholder shown while it is empty. The user's edits arrive as
// setText with the field's new text.
class TextField {
public:
    TextField() = default;
    virtual ~TextField() = default;
    TextField(const TextField&) = delete;
    TextField& operator=(const TextField&) = delete;

    const std::string& text() const { return m_text; }
    // A different text is stored, mirrored, and then runs the change handler (whose errors
    // reach the caller); the same text does nothing.
    void setText(const std::string& text);
    const std::string& placeholder() const { return m_placeholder; }
    void setPlaceholder(const std::string& placeholder);
    void setOnChange(EventHandler handler) { m_onChange = std::move(handler); }
    // Gives the field the keyboard focus.
    void setFocus() { focusRequested(); }

protected:
    virtual void textChanged() {}
    virtual void placeholderChanged() {}
    virtual void focusRequested() {}

private:
    std::string m_text;
    std::string m_placeholder;
    EventHandler m_onChange;
};

class Timer {
public:
    Timer() = default;
    virtual ~Timer() = default;
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    bool enabled() const { return m_enabled; }
    // Enabling (also an enabled timer) starts a fresh interval; disabling stops it.
    void setEnabled(bool enabled);
    int interval() const { return m_interval; }
    // A new interval restarts an enabled timer with it.
    void setInterval(int milliseconds);
    void setOnTimer(EventHandler handler) { m_onTimer = std::move(handler); }

    // The toolkit calls this when an interval has elapsed: runs the handler while the timer is
    // enabled. The handler's errors reach the caller.
    void tick();

protected:
    // Start the toolkit's timer afresh with interval() when enabled() and interval() > 0,
    // stop it otherwise.
    virtual void scheduleChanged() {}

private:
    bool m_enabled = false;
    int m_interval = 1000;
    EventHandler m_onTimer;
};

// An item of a popup menu; a check item carries a check mark.
class MenuItem : public CommandControl {
public:
    // A click by the user or from code: only while the item is enabled, a check item changes
    // its mark (setChecked(!checked())), a command item runs the handler. The handler's errors
    // reach the caller.
    void click();

    bool checkable() const { return m_checkable; }
    void setCheckable(bool checkable);
    bool checked() const { return m_checked; }
    // As for a check box: a different state is stored, mirrored, and then runs the click
    // handler; the same state does nothing.
    void setChecked(bool checked);

protected:
    // Mirror checkable() and checked().
    virtual void checkedChanged() {}

private:
    bool m_checkable = false;
    bool m_checked = false;
};

enum class Answer { Yes, No };
enum class DefaultButton { Yes, No };

// Modal message boxes. Each keeps dispatching the toolkit's events (timers) while it is open.
class MessageBoxes : public ErrorReport {
public:
    // The standard question box: `text`, captioned `caption`, a question icon, the buttons Yes
    // and No with `defaultButton` preselected. Any way of closing it other than Yes is No.
    virtual Answer askYesNo(const std::string& text, const std::string& caption,
                            DefaultButton defaultButton) = 0;
    // The plain message dialog: `text`, no icon, one OK button, captioned with the
    // application title.
    virtual void showMessage(const std::string& text) = 0;
};

// The main window itself.
class Window {
public:
    virtual ~Window() = default;

    virtual std::string caption() const = 0;
    virtual void setCaption(const std::string& caption) = 0;
    virtual bool stayOnTop() const = 0;
    // Moves the window into (true) or out of the topmost band. It keeps its position and size;
    // a shown window stays shown and is activated, one not shown yet stays hidden.
    virtual void setStayOnTop(bool stayOnTop) = 0;
    // Outer frame position and size in pixels.
    virtual int left() const = 0;
    virtual int top() const = 0;
    virtual int width() const = 0;
    virtual int height() const = 0;
};

} // namespace ui
