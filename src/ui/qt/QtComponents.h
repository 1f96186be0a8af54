#pragma once
// The window logic's components (ui/Components.h) over Qt widgets. Each one mirrors the state
// the logic sets onto its widget and forwards the user's actions, each as one event through
// ui::dispatchEvent, so an error escaping a handler reaches the general error report.
#include <functional>
#include <string>

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "ui/Components.h"

namespace qtui {

QString toQString(const std::string& text);
std::string fromQString(const QString& text);

// The narrowest message box: "Kestrel" and the window manager's buttons fit its title bar.
constexpr int MessageBoxMinimumWidth = 240;
// Makes `box` wide enough for its caption, and keeps a box of no window above every window.
void prepareMessageBox(QMessageBox& box);

// Message boxes owned by no one: modal to `parent`, captioned as the logic asks.
class QtMessageBoxes : public ui::MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }

    void showError(const std::string& text) override;
    ui::Answer askYesNo(const std::string& text, const std::string& caption,
                        ui::DefaultButton defaultButton) override;
    void showMessage(const std::string& text) override;

private:
    QPointer<QWidget> m_parent;
};

class QtButton : public ui::Button {
public:
    QtButton(QAbstractButton* widget, ui::ErrorReport& report);
    ~QtButton() override;

protected:
    void enabledChanged() override;
    void captionChanged() override;

private:
    QPointer<QAbstractButton> m_widget;
    QMetaObject::Connection m_connection;
};

class QtCheckBox : public ui::CheckBox {
public:
    QtCheckBox(QCheckBox* widget, ui::ErrorReport& report);
    ~QtCheckBox() override;

protected:
    void checkedChanged() override;
    void captionChanged() override;

private:
    QPointer<QCheckBox> m_widget;
    QMetaObject::Connection m_connection;
};

class QtLabel : public ui::Label {
public:
    explicit QtLabel(QLabel* widget);
    // Runs after a new caption is shown (the owner lays out again).
    void setOnCaptionChanged(std::function<void()> changed) { m_changed = std::move(changed); }

protected:
    void captionChanged() override;

private:
    QPointer<QLabel> m_widget;
    std::function<void()> m_changed;
};

// A QLineEdit: the user's edits (not the logic's own setText) reach the logic as one event each.
class QtTextField : public ui::TextField {
public:
    QtTextField(QLineEdit* widget, ui::ErrorReport& report);
    ~QtTextField() override;

protected:
    void textChanged() override;
    void placeholderChanged() override;
    void focusRequested() override;

private:
    QPointer<QLineEdit> m_widget;
    QMetaObject::Connection m_connection;
};

class QtTimer : public ui::Timer {
public:
    // `parent` owns the Qt timer.
    QtTimer(QObject* parent, ui::ErrorReport& report);
    ~QtTimer() override;
    QTimer* qtTimer() const { return m_timer; }

protected:
    void scheduleChanged() override;

private:
    QPointer<QTimer> m_timer;
    QMetaObject::Connection m_connection;
};

class QtMenuItem : public ui::MenuItem {
public:
    QtMenuItem(QAction* action, ui::ErrorReport& report);
    ~QtMenuItem() override;
    QAction* action() const { return m_action; }

protected:
    void enabledChanged() override;
    void captionChanged() override;
    void checkedChanged() override;

private:
    QPointer<QAction> m_action;
    QMetaObject::Connection m_connection;
};

} // namespace qtui
