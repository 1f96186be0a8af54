#include "ui/qt/QtComponents.h"

#include <algorithm>

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QSpacerItem>
#include <QTimer>
#include <QWidget>

namespace qtui {

QString toQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string fromQString(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void prepareMessageBox(QMessageBox& box) {
    // The window manager cuts a caption that does not fit its title bar, which also holds the
    // window's icon and buttons: the box is at least wide enough for them.
    const int captionWidth = box.fontMetrics().horizontalAdvance(box.windowTitle());
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid) {
        grid->addItem(new QSpacerItem(std::max(MessageBoxMinimumWidth, captionWidth * 2 + 160), 0,
                                      QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    // A box of no window would open behind a window kept on top of the others.
    if (!box.parentWidget())
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
}

namespace {

int runBox(QMessageBox& box) {
    prepareMessageBox(box);
    return box.exec();
}

} // namespace

void QtMessageBoxes::showError(const std::string& text) {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(ui::ApplicationTitle), toQString(text),
                    QMessageBox::Ok, m_parent);
    runBox(box);
}

ui::Answer QtMessageBoxes::askYesNo(const std::string& text, const std::string& caption,
                                    ui::DefaultButton defaultButton) {
    QMessageBox box(QMessageBox::Question, toQString(caption), toQString(text),
                    QMessageBox::Yes | QMessageBox::No, m_parent);
    box.setDefaultButton(defaultButton == ui::DefaultButton::Yes ? QMessageBox::Yes
                                                                 : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return runBox(box) == QMessageBox::Yes ? ui::Answer::Yes : ui::Answer::No;
}

void QtMessageBoxes::showMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(ui::ApplicationTitle), toQString(text),
                    QMessageBox::Ok, m_parent);
    runBox(box);
}

QtButton::~QtButton() {
    QObject::disconnect(m_connection);
}

QtButton::QtButton(QAbstractButton* widget, ui::ErrorReport& report) : m_widget(widget) {
    setCaption(fromQString(widget->text()));
    setEnabled(widget->isEnabled());
    m_connection = QObject::connect(widget, &QAbstractButton::clicked, widget, [this, &report] {
        ui::dispatchEvent(report, [this] { click(); });
    });
}

void QtButton::enabledChanged() {
    if (m_widget)
        m_widget->setEnabled(enabled());
}

void QtButton::captionChanged() {
    if (m_widget)
        m_widget->setText(toQString(caption()));
}

QtCheckBox::~QtCheckBox() {
    QObject::disconnect(m_connection);
}

QtCheckBox::QtCheckBox(QCheckBox* widget, ui::ErrorReport& report) : m_widget(widget) {
    setCaption(fromQString(widget->text()));
    // The design state of the box; no click handler is set yet, so none runs.
    setChecked(widget->isChecked());
    // QCheckBox has already toggled itself when `clicked` arrives; the logic takes the new state
    // and runs the handler.
    m_connection =
        QObject::connect(widget, &QAbstractButton::clicked, widget, [this, &report](bool checked) {
            ui::dispatchEvent(report, [this, checked] { setChecked(checked); });
        });
}

void QtCheckBox::checkedChanged() {
    if (m_widget && m_widget->isChecked() != checked()) {
        const QSignalBlocker blocker(m_widget.data());
        m_widget->setChecked(checked());
    }
}

void QtCheckBox::captionChanged() {
    if (m_widget)
        m_widget->setText(toQString(caption()));
}

QtLabel::QtLabel(QLabel* widget) : m_widget(widget) {
    setCaption(fromQString(widget->text()));
}

void QtLabel::captionChanged() {
    if (m_widget)
        m_widget->setText(toQString(caption()));
    if (m_changed)
        m_changed();
}

QtTextField::QtTextField(QLineEdit* widget, ui::ErrorReport& report) : m_widget(widget) {
    setText(fromQString(widget->text()));
    setPlaceholder(fromQString(widget->placeholderText()));
    m_connection = QObject::connect(
        widget, &QLineEdit::textEdited, widget, [this, &report](const QString& text) {
            ui::dispatchEvent(report, [this, text] { setText(fromQString(text)); });
        });
}

QtTextField::~QtTextField() {
    QObject::disconnect(m_connection);
}

void QtTextField::textChanged() {
    // setText keeps the cursor at the end; an equal text (the user's own edit) is left alone.
    if (m_widget && fromQString(m_widget->text()) != text())
        m_widget->setText(toQString(text()));
}

void QtTextField::placeholderChanged() {
    if (m_widget)
        m_widget->setPlaceholderText(toQString(placeholder()));
}

void QtTextField::focusRequested() {
    if (!m_widget)
        return;
    m_widget->setFocus(Qt::ShortcutFocusReason);
    m_widget->selectAll();
}

QtTimer::~QtTimer() {
    QObject::disconnect(m_connection);
}

QtTimer::QtTimer(QObject* parent, ui::ErrorReport& report) : m_timer(new QTimer(parent)) {
    m_timer->setSingleShot(false);
    m_connection = QObject::connect(m_timer, &QTimer::timeout, m_timer, [this, &report] {
        ui::dispatchEvent(report, [this] { tick(); });
    });
    scheduleChanged();
}

void QtTimer::scheduleChanged() {
    if (!m_timer)
        return;
    if (enabled() && interval() > 0)
        m_timer->start(interval());
    else
        m_timer->stop();
}

QtMenuItem::~QtMenuItem() {
    QObject::disconnect(m_connection);
}

QtMenuItem::QtMenuItem(QAction* action, ui::ErrorReport& report) : m_action(action) {
    setCaption(fromQString(action->text()));
    setEnabled(action->isEnabled());
    m_connection = QObject::connect(action, &QAction::triggered, action, [this, &report] {
        ui::dispatchEvent(report, [this] { click(); });
    });
}

void QtMenuItem::enabledChanged() {
    if (m_action)
        m_action->setEnabled(enabled());
}

void QtMenuItem::captionChanged() {
    if (m_action)
        m_action->setText(toQString(caption()));
}

void QtMenuItem::checkedChanged() {
    if (!m_action)
        return;
    m_action->setCheckable(checkable());
    m_action->setChecked(checked());
}

} // namespace qtui
