#include "ui/qt/QtFormProcInfo.h"

#include <QColor>
#include <QCursor>
#include <QEvent>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QString>

namespace {

QColor qColor(ProcInfoRgb rgb) {
    return QColor(rgb.red, rgb.green, rgb.blue);
}

QString cssColour(ProcInfoRgb rgb) {
    return qColor(rgb).name(QColor::HexRgb);
}

} // namespace

namespace qtui {

QtFormProcInfo::QtFormProcInfo(QWidget* owner, IconSource largeIcon)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint),
      m_largeIcon(std::move(largeIcon)) {
    using namespace ProcInfoLook;
    setWindowTitle(QString::fromUtf8(Caption));
    setFixedSize(ClientWidth, ClientHeight);
    setModal(true);

    QFont font(QString::fromLatin1(FontFamily));
    font.setPixelSize(FontPixelHeight);
    setFont(font);

    for (const ProcInfoPlacement& place : Placements()) {
        QWidget* parent = place.control == ProcInfoControl::Panel1
                              ? static_cast<QWidget*>(this)
                              : m_controls.at(ProcInfoControl::Panel1);
        QWidget* widget = nullptr;
        switch (place.control) {
        case ProcInfoControl::Panel1: {
            widget = new QWidget(parent);
            widget->setAutoFillBackground(true);
            QPalette palette = widget->palette();
            palette.setColor(QPalette::Window, qColor(PanelColour));
            widget->setPalette(palette);
            break;
        }
        case ProcInfoControl::Image1:
            m_image = new QLabel(parent);
            widget = m_image;
            break;
        case ProcInfoControl::Shape1:
        case ProcInfoControl::Shape2: {
            auto* line = new QFrame(parent);
            line->setFrameShape(QFrame::NoFrame);
            line->setAutoFillBackground(true);
            QPalette palette = line->palette();
            palette.setColor(QPalette::Window, qColor(LineColour));
            line->setPalette(palette);
            widget = line;
            break;
        }
        case ProcInfoControl::Label5:
            widget = new QLabel(QString::fromUtf8(PathLabel), parent);
            break;
        case ProcInfoControl::EPath:
            m_path = new QLineEdit(parent);
            m_path->setReadOnly(true);
            m_path->setFrame(false);
            m_path->setStyleSheet(QStringLiteral("QLineEdit { background: %1; border: none; }")
                                      .arg(cssColour(PathColour)));
            widget = m_path;
            break;
        case ProcInfoControl::LabLocate: {
            m_locate = new QLabel(QString::fromUtf8(LocateCaption), parent);
            QFont linkFont = m_locate->font();
            linkFont.setUnderline(true);
            m_locate->setFont(linkFont);
            m_locate->setStyleSheet(
                QStringLiteral("QLabel { color: %1; }").arg(cssColour(LinkColour)));
            m_locate->setCursor(Qt::PointingHandCursor);
            m_locate->installEventFilter(this);
            widget = m_locate;
            break;
        }
        case ProcInfoControl::BTNOK:
            m_ok = new QPushButton(QString::fromUtf8(OkCaption), parent);
            m_ok->setStyleSheet(
                QStringLiteral("QPushButton { background: %1; border: 1px solid %2; }"
                               "QPushButton:focus { border: 2px solid %2; }"
                               "QPushButton:hover { background: %3; }")
                    .arg(cssColour(ButtonFace), cssColour(ButtonHighlight),
                         cssColour(ButtonHotTrack)));
            m_ok->setDefault(true);
            connect(m_ok, &QPushButton::clicked, this, [this] {
                if (onOkClick)
                    onOkClick();
            });
            widget = m_ok;
            break;
        case ProcInfoControl::LabExe: {
            auto* label = new QLabel(parent);
            QFont bold = label->font();
            bold.setBold(true);
            label->setFont(bold);
            widget = label;
            break;
        }
        case ProcInfoControl::LabExeDes:
            widget = new QLabel(parent);
            widget->setEnabled(false);
            break;
        case ProcInfoControl::LabPID:
        case ProcInfoControl::Labcomp:
            widget = new QLabel(parent);
            break;
        }
        m_controls[place.control] = widget;
        if (place.width > 0)
            widget->setGeometry(place.left, place.top, place.width, place.height);
        else
            widget->move(place.left, place.top);
    }

    // Tab order 0 on the button, 1 on the path: the button has the focus when the dialog opens.
    setTabOrder(m_ok, m_path);
    m_ok->setFocus(Qt::OtherFocusReason);
}

void QtFormProcInfo::setText(ProcInfoControl control, const std::string& text) {
    const QString value = QString::fromStdString(text);
    if (control == ProcInfoControl::EPath) {
        m_path->setText(value);
        m_path->setCursorPosition(0);
        return;
    }
    if (auto* label = qobject_cast<QLabel*>(m_controls.at(control))) {
        label->setText(value);
        label->adjustSize();
    }
}

void QtFormProcInfo::drawLargeIcon(int index) {
    using namespace ProcInfoLook;
    QPixmap picture(IconSize, IconSize);
    picture.fill(Qt::transparent);
    if (index >= 0 && m_largeIcon) {
        const QPixmap icon = m_largeIcon(index);
        if (!icon.isNull()) {
            QPainter painter(&picture);
            painter.drawPixmap(IconLeft, IconTop, icon);
        }
    }
    m_image->setPixmap(picture);
}

void QtFormProcInfo::showModal() {
    m_ok->setFocus(Qt::OtherFocusReason);
    exec();
}

void QtFormProcInfo::closeDialog() {
    accept();
}

QWidget* QtFormProcInfo::control(ProcInfoControl control) const {
    return m_controls.at(control);
}

bool QtFormProcInfo::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_locate && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            m_locate->rect().contains(mouse->position().toPoint())) {
            if (onLocateClick)
                onLocateClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace qtui
