#include "ui/qt/KestrelMainWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColor>
#include <QDateTime>
#include <QEvent>
#include <QFont>
#include <QFrame>
#include <QGuiApplication>
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
#include <QTimer>
#include <QWidget>

#include "ui/qt/ConnectionLogWindow.h"
#include "ui/qt/ConnectionModel.h"
#include "ui/qt/ConnectionView.h"
#include "ui/qt/QtSystemImageList.h"

namespace qtui {

namespace {

QColor colour(const LookRgb& rgb) {
    return QColor(rgb.red, rgb.green, rgb.blue);
}

QString hex(const LookRgb& rgb) {
    return colour(rgb).name(QColor::HexRgb);
}

// The bitmap buttons' faces, as the description colours them.
QString panelStyleSheet() {
    using namespace MainWindowLook;
    return QStringLiteral("QPushButton { background-color: %1; color: %2; border: 1px solid %3;"
                          " border-radius: 2px; padding: 0px 6px; }"
                          "QPushButton:hover { background-color: %4; }"
                          "QPushButton:pressed { background-color: %5; color: %6; }"
                          "QPushButton:disabled { color: %7; }"
                          "QPushButton:focus { border: 1px solid %5; }"
                          "QCheckBox { color: %8; }")
        .arg(hex(ButtonFace), hex(ButtonText), hex(ButtonBorder), hex(ButtonHotTrack),
             hex(ButtonPressed), hex(ButtonPressedText), hex(ButtonDisabledText),
             hex(CheckBoxText));
}

QFont interfaceFont(bool bold = false) {
    QFont font(QString::fromUtf8(MainWindowLook::FontFamily));
    font.setPixelSize(MainWindowLook::FontPixelHeight);
    font.setBold(bold);
    return font;
}

QFrame* panel(QWidget* parent, const MainControlLook& look, bool raised) {
    auto* frame = new QFrame(parent);
    frame->setObjectName(QString::fromLatin1(look.objectName));
    frame->setAutoFillBackground(true);
    QPalette colours = frame->palette();
    colours.setColor(QPalette::Window, colour(MainWindowLook::PanelColour));
    frame->setPalette(colours);
    if (raised) {
        frame->setFrameShape(QFrame::Panel);
        frame->setFrameShadow(QFrame::Raised);
        frame->setLineWidth(1);
    } else {
        frame->setFrameShape(QFrame::NoFrame);
    }
    frame->setStyleSheet(panelStyleSheet());
    return frame;
}

// The captions come from the window logic, except for the sentence's fixed pieces, which no
// logic touches.
QWidget* makeControl(QWidget* parent, const MainControlLook& look) {
    QWidget* widget = nullptr;
    switch (look.kind) {
    case ControlKind::Label: {
        auto* label = new QLabel(parent);
        label->setFont(interfaceFont(look.bold));
        if (look.hasColour) {
            QPalette colours = label->palette();
            colours.setColor(QPalette::WindowText, colour(look.colour));
            label->setPalette(colours);
        } else {
            label->setText(QString::fromUtf8(look.caption));
        }
        widget = label;
        break;
    }
    case ControlKind::Button: {
        auto* button = new QPushButton(parent);
        button->setIcon(QIcon(
            QStringLiteral(":/kestrel/pictures/%1.xpm").arg(QString::fromLatin1(look.picture))));
        const int side = MainWindowLook::ButtonPictureSize;
        button->setIconSize(QSize(side, side));
        button->setAutoDefault(false);
        widget = button;
        break;
    }
    case ControlKind::CheckBox: {
        auto* box = new QCheckBox(parent);
        box->setFont(interfaceFont());
        widget = box;
        break;
    }
    case ControlKind::TextField: {
        auto* field = new QLineEdit(parent);
        field->setFont(interfaceFont());
        field->setClearButtonEnabled(true);
        widget = field;
        break;
    }
    case ControlKind::Panel:
    case ControlKind::List:
        return nullptr;
    }
    widget->setObjectName(QString::fromLatin1(look.objectName));
    return widget;
}

} // namespace

QIcon applicationIcon() {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/kestrel/icons/kestrel-%1.png").arg(size), QSize(size, size));
    return icon;
}

KestrelMainWindow::KestrelMainWindow(TFormKestrelServices services, QWidget* parent)
    : QMainWindow(parent,
                  MainWindowLook::StartsOnTop ? Qt::Window | Qt::WindowStaysOnTopHint : Qt::Window),
      m_messages(this) {
    setObjectName(QStringLiteral("FormKestrel"));
    setWindowIcon(applicationIcon());
    setFont(interfaceFont());
    resize(ClientWidth, ClientHeight);
    setMinimumSize(MinimumWidth, MinimumHeight);

    m_central = new QWidget(this);
    m_central->installEventFilter(this);
    makeControls(m_central);
    setCentralWidget(m_central);
    makeMenus();

    m_timer = std::make_unique<QtTimer>(this, m_messages);
    m_worker = std::make_unique<QtWorker>(m_messages);
    auto label = [this](MainControl control) -> ui::Label& { return *m_labels[index(control)]; };
    auto pressButton = [this](MainControl control) -> ui::Button& {
        return *m_buttons[index(control)];
    };
    auto box = [this](MainControl control) -> ui::CheckBox& { return *m_boxes[index(control)]; };
    TFormKestrelControls controls{
        .Form = *this,
        .VTS = m_list,
        .LabAppCount = label(MainControl::LabAppCount),
        .LabNetCount = label(MainControl::LabNetCount),
        .Label5 = label(MainControl::Label5),
        .EFilter = *m_filter,
        .BTNOptions = pressButton(MainControl::BTNOptions),
        .BTNHelp = pressButton(MainControl::BTNHelp),
        .BTNUpdate = pressButton(MainControl::BTNUpdate),
        .BTNHomePage = pressButton(MainControl::BTNHomePage),
        .BTNRefresh = pressButton(MainControl::BTNRefresh),
        .BTNEndPro = pressButton(MainControl::BTNEndPro),
        .CBShowLocal = box(MainControl::CBShowLocal),
        .CBAutoRefresh = box(MainControl::CBAutoRefresh),
        .CBAlwaysTop = box(MainControl::CBAlwaysTop),
        .CBShowInfo = box(MainControl::CBShowInfo),
        .Timer1 = *m_timer,
        .PmTree = {},
        .PmOptions = {},
        .PmOptionCommands = {},
        .Messages = m_messages,
        .Worker = *m_worker,
    };
    for (std::size_t i = 0; i < m_contextItems.size(); ++i)
        controls.PmTree[i] = m_contextItems[i].get();
    for (std::size_t i = 0; i < m_optionItems.size(); ++i)
        controls.PmOptions[i] = m_optionItems[i].get();
    for (std::size_t i = 0; i < m_optionCommands.size(); ++i)
        controls.PmOptionCommands[i] = m_optionCommands[i].get();

    if (!services.makeImageStore || !services.systemImages) {
        QtSystemImageList::prepareIconTheme();
        m_systemImages = std::make_unique<QtSystemImageList>();
        services.systemImages = m_systemImages.get();
        // The window keeps the stores it makes, to draw from them as what they are.
        services.makeImageStore = [this] {
            auto store = std::make_unique<QtImageStore>();
            m_ownStores.push_back(store.get());
            return store;
        };
    }
    m_listener = std::make_unique<os::SocketEndListener>();
    m_log = std::make_unique<ConnectionLogView>(
        m_listener->listening(),
        [listener = m_listener.get()](std::vector<os::SocketEnd>& out) {
            return listener->take(out);
        },
        [] { return QDateTime::currentMSecsSinceEpoch(); });
    services.snapshotPending = [this, told = std::move(services.snapshotPending)] {
        if (told)
            told();
        m_log->snapshotPending();
    };
    services.snapshotTaken = [this,
                              told = std::move(services.snapshotTaken)](const Snapshot& snapshot) {
        if (told)
            told(snapshot);
        m_log->snapshotTaken(snapshot);
        if (m_logWindow)
            m_logWindow->logChanged();
    };
    // Often enough that the listener's queue (32,768) never fills at thousands of ends a
    // second, and that the log window follows as they happen.
    auto* logPoll = new QTimer(this);
    logPoll->setInterval(250);
    connect(logPoll, &QTimer::timeout, this, &KestrelMainWindow::pollConnectionLog);
    if (m_listener->listening())
        logPoll->start();
    services.showConnectionLog = [this] { showConnectionLog(); };
    m_form = std::make_unique<TFormKestrel>(controls, std::move(services));
    m_commandParts = std::make_unique<QtCommandComponents>(
        this, m_popup, m_optionsMenu, optionsButton(),
        [this] { return storeOf(m_form ? m_form->largeIcons() : nullptr); });
    m_form->SetCommandComponents(m_commandParts->commands());
    // Ctrl+F from anywhere in the window; Escape only while the field has the focus, so that
    // it keeps its meaning elsewhere.
    auto* find = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
    find->setContext(Qt::WindowShortcut);
    connect(find, &QShortcut::activated, this,
            [this] { ui::dispatchEvent(m_messages, [this] { m_form->FormKeyFind(); }); });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), filterField());
    escape->setContext(Qt::WidgetShortcut);
    connect(escape, &QShortcut::activated, this,
            [this] { ui::dispatchEvent(m_messages, [this] { m_form->EFilterKeyEscape(); }); });
    // Column 1 shows the pictures of SmallIcons.
    m_model->setImageSource([this](int index) {
        const QtImageStore* store = storeOf(m_form ? m_form->smallIcons() : nullptr);
        return store ? store->picture(index) : QPixmap();
    });
    layoutControls();
}

void KestrelMainWindow::pollConnectionLog() {
    if (m_log->poll() && m_logWindow)
        m_logWindow->logChanged();
}

void KestrelMainWindow::showConnectionLog() {
    if (!m_logWindow) {
        m_logWindow = new ConnectionLogWindow(*m_log, this);
        m_logWindow->setFont(font());
    }
    m_logWindow->logChanged();
    m_logWindow->show();
    m_logWindow->raise();
    m_logWindow->activateWindow();
}

KestrelMainWindow::~KestrelMainWindow() {
    // The logic and the model refer to the list control and the components, which go before
    // the widgets (QObject children) do.
    m_form.reset();
    delete m_logWindow;
    m_logWindow = nullptr;
    if (m_central)
        m_central->removeEventFilter(this);
    delete m_view;
    m_view = nullptr;
    delete m_model;
    m_model = nullptr;
}

void KestrelMainWindow::makeControls(QWidget* central) {
    using namespace MainWindowLook;
    QFrame* top = panel(central, Control(MainControl::PTop), TopPanelRaised);
    m_widgets[index(MainControl::PTop)] = top;
    m_model = new ConnectionModel(m_list, this);
    m_view = new ConnectionView(m_model, m_messages, central);
    m_view->setObjectName(QString::fromLatin1(Control(MainControl::VTS).objectName));
    m_widgets[index(MainControl::VTS)] = m_view;
    QFrame* bottom = panel(central, Control(MainControl::PBottom), false);
    m_widgets[index(MainControl::PBottom)] = bottom;

    for (const auto& [parent, row] : {std::pair{top, &TopSentence()}, std::pair{top, &TopRight()},
                                      std::pair{bottom, &BottomRow()}}) {
        for (const MainControlLook& look : *row) {
            QWidget* widget = makeControl(parent, look);
            const std::size_t i = index(look.control);
            m_widgets[i] = widget;
            if (auto* label = qobject_cast<QLabel*>(widget)) {
                m_labels[i] = std::make_unique<QtLabel>(label);
                m_labels[i]->setOnCaptionChanged([this] { layoutControls(); });
            } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
                m_boxes[i] = std::make_unique<QtCheckBox>(box, m_messages);
            } else if (auto* pushButton = qobject_cast<QPushButton*>(widget)) {
                m_buttons[i] = std::make_unique<QtButton>(pushButton, m_messages);
            }
        }
    }
    auto* field = qobject_cast<QLineEdit*>(makeControl(top, Control(MainControl::EFilter)));
    m_widgets[index(MainControl::EFilter)] = field;
    m_filter = std::make_unique<QtTextField>(field, m_messages);

    const std::vector<MainControl>& order = TabOrder();
    for (std::size_t i = 0; i + 1 < order.size(); ++i)
        setTabOrder(control(order[i]), control(order[i + 1]));
}

void KestrelMainWindow::makeMenus() {
    m_popup = new QMenu(this);
    m_popup->setObjectName(QStringLiteral("PmTree"));
    for (const MenuLine<ContextItem>& line : MainWindowLook::ContextMenu()) {
        if (line.caption == nullptr) {
            m_popup->addSeparator();
            continue;
        }
        m_contextItems[static_cast<std::size_t>(line.item)] =
            std::make_unique<QtMenuItem>(m_popup->addAction(QString()), m_messages);
    }
    m_optionsMenu = new QMenu(this);
    m_optionsMenu->setObjectName(QStringLiteral("PmOptions"));
    for (const OptionLook& option : MainWindowLook::OptionsMenu())
        m_optionItems[static_cast<std::size_t>(option.item)] =
            std::make_unique<QtMenuItem>(m_optionsMenu->addAction(QString()), m_messages);
    for (const MenuLine<OptionCommand>& line : MainWindowLook::OptionsCommands()) {
        if (line.caption == nullptr) {
            m_optionsMenu->addSeparator();
            continue;
        }
        m_optionCommands[static_cast<std::size_t>(line.item)] =
            std::make_unique<QtMenuItem>(m_optionsMenu->addAction(QString()), m_messages);
    }
}

void KestrelMainWindow::layoutControls() {
    if (!m_central || !m_widgets[index(MainControl::PBottom)])
        return;
    const auto textSize = [this](MainControl which) {
        const QSize size = control(which)->sizeHint();
        return LookRect{0, 0, size.width(), size.height()};
    };
    const std::vector<LookRect> places = MainWindowLook::Layout(
        m_central->width(), m_central->height(), [](int pixels) { return pixels; }, textSize);
    for (std::size_t i = 0; i < places.size(); ++i) {
        QWidget* widget = m_widgets[i];
        if (widget == nullptr)
            continue;
        // The panels' controls are placed inside their panel.
        const QWidget* parent = widget->parentWidget();
        const QPoint origin = parent == m_central ? QPoint() : parent->pos();
        const LookRect& place = places[i];
        widget->setGeometry(place.left - origin.x(), place.top - origin.y(), place.width,
                            place.height);
    }
}

bool KestrelMainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_central && event->type() == QEvent::Resize)
        layoutControls();
    return QMainWindow::eventFilter(watched, event);
}

const QtImageStore* KestrelMainWindow::storeOf(const TImageListEx* icons) const {
    for (const QtImageStore* store : m_ownStores) {
        if (icons != nullptr && &icons->Images() == store)
            return store;
    }
    return nullptr;
}

QPushButton* KestrelMainWindow::button(MainControl control) const {
    return qobject_cast<QPushButton*>(this->control(control));
}

QLabel* KestrelMainWindow::appCountLabel() const {
    return qobject_cast<QLabel*>(control(MainControl::LabAppCount));
}

QLineEdit* KestrelMainWindow::filterField() const {
    return qobject_cast<QLineEdit*>(control(MainControl::EFilter));
}

QLabel* KestrelMainWindow::netCountLabel() const {
    return qobject_cast<QLabel*>(control(MainControl::LabNetCount));
}

QCheckBox* KestrelMainWindow::showLocalBox() const {
    return qobject_cast<QCheckBox*>(control(MainControl::CBShowLocal));
}

QCheckBox* KestrelMainWindow::autoRefreshBox() const {
    return qobject_cast<QCheckBox*>(control(MainControl::CBAutoRefresh));
}

QCheckBox* KestrelMainWindow::alwaysTopBox() const {
    return qobject_cast<QCheckBox*>(control(MainControl::CBAlwaysTop));
}

QCheckBox* KestrelMainWindow::showInfoBox() const {
    return qobject_cast<QCheckBox*>(control(MainControl::CBShowInfo));
}

void KestrelMainWindow::create() {
    m_form->FormCreate();
}

QString KestrelMainWindow::countersText() const {
    QString sentence;
    for (const MainControlLook& look : MainWindowLook::TopSentence())
        sentence += qobject_cast<const QLabel*>(control(look.control))->text();
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
