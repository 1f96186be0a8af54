#include "ui/qt/QtComponents.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QSignalBlocker>
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

void QtMessageBoxes::showError(const std::string& text) {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(ui::ApplicationTitle), toQString(text),
                    QMessageBox::Ok, m_parent);
    box.exec();
}

ui::Answer QtMessageBoxes::askYesNo(const std::string& text, const std::string& caption,
                                    ui::DefaultButton defaultButton) {
    QMessageBox box(QMessageBox::Question, toQString(caption), toQString(text),
                    QMessageBox::Yes | QMessageBox::No, m_parent);
    box.setDefaultButton(defaultButton == ui::DefaultButton::Yes ? QMessageBox::Yes
                                                                 : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? ui::Answer::Yes : ui::Answer::No;
}

void QtMessageBoxes::showMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(ui::ApplicationTitle), toQString(text),
                    QMessageBox::Ok, m_parent);
    box.exec();
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

} // namespace qtui
