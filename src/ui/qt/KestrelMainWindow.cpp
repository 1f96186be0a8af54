#include "ui/qt/KestrelMainWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColor>
#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QRect>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QSize>
#include <QSizePolicy>
#include <QVBoxLayout>
#include <QWidget>

#include "ui/qt/ConnectionModel.h"
#include "ui/qt/ConnectionView.h"
#include "ui/qt/QtSystemImageList.h"

namespace qtui {

namespace {

const QColor PanelColour(0xEC, 0xF5, 0xF8);
constexpr int TopPanelHeight = 34;
constexpr int BottomPanelHeight = 28;
constexpr int TopButtonHeight = 32;
constexpr int BottomButtonHeight = 26;
constexpr int CheckBoxHeight = 17;
// The filter field: as high as the check boxes' row of text needs, narrower when the sentence
// needs the room.
constexpr int FilterFieldHeight = 22;
constexpr int FilterFieldWidth = 150;
constexpr int FilterFieldMinimumWidth = 80;

// Bitmap buttons: face #F4F4F0, highlight #6A8DF4 while pressed, hot-track #FFC73C.
constexpr const char* PanelStyleSheet =
    "QPushButton { background-color: #F4F4F0; color: black; border: 1px solid #9AA6B2;"
    " border-radius: 2px; padding: 0px 6px; }"
    "QPushButton:hover { background-color: #FFC73C; }"
    "QPushButton:pressed { background-color: #6A8DF4; color: white; }"
    "QPushButton:disabled { color: #8C8C8C; }"
    "QPushButton:focus { border: 1px solid #6A8DF4; }"
    "QCheckBox { color: black; }";

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QFont arial8() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    return font;
}

QFrame* panel(QWidget* parent, int height, bool raised) {
    auto* frame = new QFrame(parent);
    frame->setFixedHeight(height);
    frame->setAutoFillBackground(true);
    QPalette colours = frame->palette();
    colours.setColor(QPalette::Window, PanelColour);
    frame->setPalette(colours);
    if (raised) {
        frame->setFrameShape(QFrame::Panel);
        frame->setFrameShadow(QFrame::Raised);
        frame->setLineWidth(1);
    } else {
        frame->setFrameShape(QFrame::NoFrame);
    }
    frame->setStyleSheet(QString::fromLatin1(PanelStyleSheet));
    return frame;
}

QLabel* sentenceLabel(QWidget* parent, const char* caption, const QColor& colour, bool bold) {
    auto* label = new QLabel(text(caption), parent);
    QFont font = arial8();
    font.setBold(bold);
    label->setFont(font);
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, colour);
    label->setPalette(colours);
    label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    return label;
}

QPushButton* bitmapButton(QWidget* parent, const char* objectName, const char* caption,
                          const char* picture, int width, int height) {
    auto* button = new QPushButton(text(caption), parent);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setIcon(QIcon(QStringLiteral(":/kestrel/pictures/") + QString::fromLatin1(picture)));
    button->setIconSize(QSize(16, 16));
    button->setFixedSize(width, height);
    button->setAutoDefault(false);
    return button;
}

QCheckBox* optionBox(QWidget* parent, const char* objectName, const char* caption, bool checked) {
    auto* box = new QCheckBox(text(caption), parent);
    box->setObjectName(QString::fromLatin1(objectName));
    box->setFont(arial8());
    box->setChecked(checked);
    box->setFixedHeight(CheckBoxHeight);
    return box;
}

} // namespace

QIcon applicationIcon() {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/kestrel/icons/kestrel-%1.png").arg(size), QSize(size, size));
    return icon;
}

KestrelMainWindow::KestrelMainWindow(TFormKestrelServices services, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowStaysOnTopHint), m_messages(this) {
    setObjectName(QStringLiteral("FormKestrel"));
    setWindowTitle(text("Kestrel V$V$(网络连接查看器)"));
    setWindowIcon(applicationIcon());
    setFont(arial8());
    resize(ClientWidth, ClientHeight);
    setMinimumSize(MinimumWidth, MinimumHeight);

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(makeTopPanel());
    m_model = new ConnectionModel(m_list, this);
    m_view = new ConnectionView(m_model, m_messages, central);
    m_view->setObjectName(QStringLiteral("VTS"));
    column->addWidget(m_view, 1);
    column->addWidget(makeBottomPanel());
    setCentralWidget(central);

    setTabOrder(m_btnRefresh, m_btnEndPro);
    setTabOrder(m_btnEndPro, m_cbShowLocal);
    setTabOrder(m_cbShowLocal, m_cbAutoRefresh);
    setTabOrder(m_cbAutoRefresh, m_cbAlwaysTop);
    setTabOrder(m_cbAlwaysTop, m_cbShowInfo);

    m_popup = new QMenu(this);
    m_popup->setObjectName(QStringLiteral("PmTree"));
    QAction* procInfo = m_popup->addAction(text("进程信息"));
    m_popup->addSeparator();
    QAction* endProc = m_popup->addAction(text("结束进程(&E)"));
    m_popup->addSeparator();
    QAction* copy = m_popup->addAction(text("拷贝到剪贴板"));
    QAction* locate = m_popup->addAction(text("定位文件"));
    QAction* property = m_popup->addAction(text("属性(&R)"));

    m_appCount = std::make_unique<QtLabel>(m_labAppCount);
    m_netCount = std::make_unique<QtLabel>(m_labNetCount);
    m_sentenceEnd = std::make_unique<QtLabel>(m_label5);
    m_filter = std::make_unique<QtTextField>(m_eFilter, m_messages);
    m_help = std::make_unique<QtButton>(m_btnHelp, m_messages);
    m_update = std::make_unique<QtButton>(m_btnUpdate, m_messages);
    m_homePage = std::make_unique<QtButton>(m_btnHomePage, m_messages);
    m_refresh = std::make_unique<QtButton>(m_btnRefresh, m_messages);
    m_endPro = std::make_unique<QtButton>(m_btnEndPro, m_messages);
    m_showLocal = std::make_unique<QtCheckBox>(m_cbShowLocal, m_messages);
    m_autoRefresh = std::make_unique<QtCheckBox>(m_cbAutoRefresh, m_messages);
    m_alwaysTop = std::make_unique<QtCheckBox>(m_cbAlwaysTop, m_messages);
    m_showInfo = std::make_unique<QtCheckBox>(m_cbShowInfo, m_messages);
    m_timer = std::make_unique<QtTimer>(this, m_messages);
    m_procInfo = std::make_unique<QtMenuItem>(procInfo, m_messages);
    m_endProc = std::make_unique<QtMenuItem>(endProc, m_messages);
    m_copy = std::make_unique<QtMenuItem>(copy, m_messages);
    m_locate = std::make_unique<QtMenuItem>(locate, m_messages);
    m_property = std::make_unique<QtMenuItem>(property, m_messages);

    const TFormKestrelControls controls{
        .Form = *this,
        .VTS = m_list,
        .LabAppCount = *m_appCount,
        .LabNetCount = *m_netCount,
        .Label5 = *m_sentenceEnd,
        .EFilter = *m_filter,
        .BTNHelp = *m_help,
        .BTNUpdate = *m_update,
        .BTNHomePage = *m_homePage,
        .BTNRefresh = *m_refresh,
        .BTNEndPro = *m_endPro,
        .CBShowLocal = *m_showLocal,
        .CBAutoRefresh = *m_autoRefresh,
        .CBAlwaysTop = *m_alwaysTop,
        .CBShowInfo = *m_showInfo,
        .Timer1 = *m_timer,
        .NProcInfo = *m_procInfo,
        .NEndProc = *m_endProc,
        .NCopy = *m_copy,
        .NLocate = *m_locate,
        .NProperty = *m_property,
        .Messages = m_messages,
    };
    if (!services.makeImageStore || !services.systemImages) {
        QtSystemImageList::prepareIconTheme();
        m_systemImages = std::make_unique<QtSystemImageList>();
        services.systemImages = m_systemImages.get();
        services.makeImageStore = [] { return std::make_unique<QtImageStore>(); };
    }
    m_form = std::make_unique<TFormKestrel>(controls, std::move(services));
    m_commandParts = std::make_unique<QtCommandComponents>(
        this, m_popup, [this] { return m_form ? m_form->largeIcons() : nullptr; });
    m_form->SetCommandComponents(m_commandParts->commands());
    // Ctrl+F from anywhere in the window; Escape only while the field has the focus, so that
    // it keeps its meaning elsewhere.
    auto* find = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
    find->setContext(Qt::WindowShortcut);
    connect(find, &QShortcut::activated, this,
            [this] { ui::dispatchEvent(m_messages, [this] { m_form->FormKeyFind(); }); });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), m_eFilter);
    escape->setContext(Qt::WidgetShortcut);
    connect(escape, &QShortcut::activated, this,
            [this] { ui::dispatchEvent(m_messages, [this] { m_form->EFilterKeyEscape(); }); });
    // Column 1 shows the pictures of SmallIcons.
    m_model->setImageSource([this](int index) {
        TImageListEx* icons = m_form ? m_form->smallIcons() : nullptr;
        const auto* store = icons ? dynamic_cast<const QtImageStore*>(&icons->Images()) : nullptr;
        return store ? store->picture(index) : QPixmap();
    });
}

KestrelMainWindow::~KestrelMainWindow() {
    // The logic and the model refer to the list control and the components, which go before
    // the widgets (QObject children) do.
    m_form.reset();
    delete m_view;
    m_view = nullptr;
    delete m_model;
    m_model = nullptr;
}

QFrame* KestrelMainWindow::makeTopPanel() {
    QFrame* top = panel(this, TopPanelHeight, true);
    top->setObjectName(QStringLiteral("PTop"));
    auto* row = new QHBoxLayout(top);
    row->setContentsMargins(6, 0, 1, 0);
    row->setSpacing(0);

    const QColor windowText = palette().color(QPalette::WindowText);
    row->addWidget(sentenceLabel(top, "当前有", windowText, false));
    m_labAppCount = sentenceLabel(top, "0", Qt::red, true);
    m_labAppCount->setObjectName(QStringLiteral("LabAppCount"));
    row->addWidget(m_labAppCount);
    row->addWidget(sentenceLabel(top, "个程序已连接或尝试连接网络，共建立", windowText, false));
    m_labNetCount = sentenceLabel(top, "0", Qt::blue, true);
    m_labNetCount->setObjectName(QStringLiteral("LabNetCount"));
    row->addWidget(m_labNetCount);
    m_label5 = sentenceLabel(top, "个连接。", windowText, false);
    m_label5->setObjectName(QStringLiteral("Label5"));
    row->addWidget(m_label5);
    row->addStretch(1);

    m_eFilter = new QLineEdit(top);
    m_eFilter->setObjectName(QStringLiteral("EFilter"));
    m_eFilter->setPlaceholderText(QStringLiteral("筛选"));
    m_eFilter->setClearButtonEnabled(true);
    m_eFilter->setFixedHeight(FilterFieldHeight);
    m_eFilter->setMinimumWidth(FilterFieldMinimumWidth);
    m_eFilter->setMaximumWidth(FilterFieldWidth);
    m_eFilter->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    row->addWidget(m_eFilter, 0, Qt::AlignVCenter);
    row->addSpacing(4);

    m_btnHelp = bitmapButton(top, "BTNHelp", "帮助", "help.xpm", 74, TopButtonHeight);
    m_btnUpdate = bitmapButton(top, "BTNUpdate", "更新", "update.xpm", 86, TopButtonHeight);
    m_btnHomePage = bitmapButton(top, "BTNHomePage", "主页", "homepage.xpm", 86, TopButtonHeight);
    row->addWidget(m_btnHelp, 0, Qt::AlignVCenter);
    row->addWidget(m_btnUpdate, 0, Qt::AlignVCenter);
    row->addWidget(m_btnHomePage, 0, Qt::AlignVCenter);
    return top;
}

// The four boxes and two buttons sit in the described order from the left and keep their
// places when the window is resized. Each box is only as wide as its text, so that all six
// fit the design width (the fourth box would otherwise start beyond the panel's right edge).
QFrame* KestrelMainWindow::makeBottomPanel() {
    QFrame* bottom = panel(this, BottomPanelHeight, false);
    bottom->setObjectName(QStringLiteral("PBottom"));
    auto* row = new QHBoxLayout(bottom);
    row->setContentsMargins(8, 1, 0, 1);
    row->setSpacing(10);

    m_cbShowLocal = optionBox(bottom, "CBShowLocal", "显示本地连接", true);
    m_cbAutoRefresh = optionBox(bottom, "CBAutoRefresh", "自动刷新", false);
    m_cbAlwaysTop = optionBox(bottom, "CBAlwaysTop", "始终保持在其他窗口前端", true);
    m_btnRefresh =
        bitmapButton(bottom, "BTNRefresh", "刷新", "refresh.xpm", 80, BottomButtonHeight);
    m_btnEndPro =
        bitmapButton(bottom, "BTNEndPro", "结束进程", "endprocess.xpm", 110, BottomButtonHeight);
    m_cbShowInfo = optionBox(bottom, "CBShowInfo", "显示文件详细信息", false);

    row->addWidget(m_cbShowLocal, 0, Qt::AlignVCenter);
    row->addWidget(m_cbAutoRefresh, 0, Qt::AlignVCenter);
    row->addWidget(m_cbAlwaysTop, 0, Qt::AlignVCenter);
    row->addSpacing(8);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(0);
    buttons->addWidget(m_btnRefresh, 0, Qt::AlignVCenter);
    buttons->addWidget(m_btnEndPro, 0, Qt::AlignVCenter);
    row->addLayout(buttons);
    row->addWidget(m_cbShowInfo, 0, Qt::AlignVCenter);
    row->addStretch(1);
    return bottom;
}

void KestrelMainWindow::create() {
    m_form->FormCreate();
}

QString KestrelMainWindow::countersText() const {
    QString sentence;
    const QList<QLabel*> labels =
        m_labAppCount->parentWidget()->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
    for (const QLabel* label : labels)
        sentence += label->text();
    return sentence;
}

std::string KestrelMainWindow::caption() const {
    return fromQString(windowTitle());
}

void KestrelMainWindow::setCaption(const std::string& caption) {
    setWindowTitle(toQString(caption));
}

bool KestrelMainWindow::stayOnTop() const {
    return windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void KestrelMainWindow::setStayOnTop(bool stayOnTop) {
    const bool shown = isVisible();
    if (stayOnTop != this->stayOnTop()) {
        // Changing the flags re-creates the native window and hides it; put it back where it
        // was, at its size.
        const QRect place = geometry();
        setWindowFlag(Qt::WindowStaysOnTopHint, stayOnTop);
        if (shown) {
            setGeometry(place);
            show();
        }
    }
    if (shown) {
        raise();
        activateWindow();
    }
}

int KestrelMainWindow::left() const {
    return frameGeometry().left();
}

int KestrelMainWindow::top() const {
    return frameGeometry().top();
}

int KestrelMainWindow::width() const {
    return frameGeometry().width();
}

int KestrelMainWindow::height() const {
    return frameGeometry().height();
}

void KestrelMainWindow::closeEvent(QCloseEvent* event) {
    bool canClose = false;
    ui::dispatchEvent(m_messages, [this, &canClose] { m_form->FormCloseQuery(canClose); });
    if (canClose)
        event->accept();
    else
        event->ignore();
}

void KestrelMainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_placed)
        return;
    m_placed = true;
    // Centred on the desktop when first shown.
    if (const QScreen* screen =
            this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        QRect place = frameGeometry();
        place.moveCenter(screen->availableGeometry().center());
        move(place.topLeft());
    }
}

} // namespace qtui
