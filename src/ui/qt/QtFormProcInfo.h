#pragma once
// The process details dialog in Qt Widgets: draws TFormProcInfo's layout and forwards the
// link and button clicks to it.
#include <functional>
#include <map>
#include <string>

#include <QDialog>
#include <QPixmap>

#include "ui/UnitFormProcInfo.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace qtui {

class QtFormProcInfo : public QDialog, public ProcInfoView {
    Q_OBJECT
public:
    // `largeIcon` gives picture `index` of the 32-pixel icon cache (a null pixmap when none).
    using IconSource = std::function<QPixmap(int index)>;

    QtFormProcInfo(QWidget* owner, IconSource largeIcon);

    void setText(ProcInfoControl control, const std::string& text) override;
    void drawLargeIcon(int index) override;
    void showModal() override;
    void closeDialog() override;

    // For tests: the widget standing for one control of the layout.
    QWidget* control(ProcInfoControl control) const;

private:
    bool eventFilter(QObject* watched, QEvent* event) override;

    IconSource m_largeIcon;
    std::map<ProcInfoControl, QWidget*> m_controls;
    QLabel* m_image = nullptr;
    QLabel* m_locate = nullptr;
    QLineEdit* m_path = nullptr;
    QPushButton* m_ok = nullptr;
};

} // namespace qtui
