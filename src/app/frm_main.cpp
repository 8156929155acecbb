#include "app/frm_main.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <thread>

#include "app/list_control.h"
#include "app/lock_history_strip.h"

namespace quarvel {

namespace {

// Positions are kept in twips, as the layout was drawn; 15 twips make one pixel at 100 %.
QRect twips(int left, int top, int width, int height) {
    return {left / 15, top / 15, width / 15, height / 15};
}

constexpr int kRowHeight = 300;
// The settings frame: the divider column (values, captions) and the frequency column beside
// it, which widens to kWide below the GPS caption.
constexpr int kLeft = 240, kValueWidthBox = 1320, kCaption = 1680, kCaptionWidth = 690;
constexpr int kFirst = 1380, kStep = 360;
constexpr int kRight = 2760, kRightWidth = 1710;
constexpr int kWide = kCaption + kCaptionWidth + 30, kWideWidth = kRight + kRightWidth - kWide;

template <typename Widget>
Widget* place(Widget* widget, const char* name, QRect where) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(where);
    return widget;
}

QLabel* caption(QWidget* parent, const QString& text, QRect where) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(where);
    return label;
}

QLabel* valueLabel(QWidget* parent, const char* name, QRect where) {
    auto* label = place(new QLabel(parent), name, where);
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    return label;
}

QLabel* indicator(QWidget* parent, const char* name, const QString& text, QRect where) {
    auto* label = place(new QLabel(text, parent), name, where);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(255, 0, 0));
    label->setPalette(palette);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

// Wrapped dark red text, readable also while its frame is disabled.
QLabel* notice(QWidget* parent, const char* name, QRect where) {
    auto* label = place(new QLabel(parent), name, where);
    label->setWordWrap(true);
    QPalette palette = label->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::WindowText, QColor(139, 0, 0));
    }
    label->setPalette(palette);
    return label;
}

QFrame* separator(QWidget* parent, QRect where) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(where);
    return line;
}

}  // namespace

WindowServices WindowServices::standard() {
    return {
        .warn = [](QWidget* parent, const QString& title,
                   const QString& text) { QMessageBox::warning(parent, title, text); },
        .localClock = [] { return QDateTime::currentDateTime(); },
        .requestPause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); },
    };
}

frmMain::frmMain(HidBackend& backend, WindowServices services, QWidget* parent)
    : QWidget(parent), backend_(backend), services_(std::move(services)) {
    buildControls();
    connectHandlers();
}

frmMain::~frmMain() {
    Form_Unload();
}

void frmMain::buildControls() {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Quarvel Configuration"));
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);
    Client = new QWidget;
    Client->setFixedSize(4830 / 15, 11145 / 15);
    buildDeviceDetails();
    buildSettings();
    buildFrequencyColumn();
    buildSettingsFoot();

    // Below the visible area: the register-write controls.
    REG = place(new QLineEdit(Client), "REG", twips(240, 12600, 1200, 330));
    DATA = place(new QLineEdit(Client), "DATA", twips(1560, 12600, 1200, 330));
    WriteRegister = place(new QPushButton(QStringLiteral("Register write"), Client),
                          "WriteRegister", twips(2880, 12600, 1600, 360));
    setTabOrder(REG, DATA);
    setTabOrder(DATA, WriteRegister);
    // Each plan field's text box carries the field's name.
    for (const PlanFieldRow& row : kPlanTable) {
        FieldEdits[fieldIndex(row.field)] = Client->findChild<QLineEdit*>(
            QLatin1StringView(row.name.data(), static_cast<qsizetype>(row.name.size())));
    }

    WsprTimer = new QTimer(this);
    WsprTimer->setSingleShot(true);

    // The client area scrolls only on a screen too small for it (a high scale factor), so
    // that every control stays reachable; where it fits, nothing of the scroll area shows.
    Scroller = new QScrollArea(this);
    Scroller->setFrameShape(QFrame::NoFrame);
    // It only scrolls: a Tab stop of its own would be one more, invisible, after the last
    // control.
    Scroller->setFocusPolicy(Qt::NoFocus);
    Scroller->setWidget(Client);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Scroller);
    fitToScreen(screen()->availableGeometry().size());
}

void frmMain::fitToScreen(const QSize& available, const QMargins& frame) {
    const QSize client = Client->size();
    // Before the window manager has framed the window its frame is not known: the title bar
    // stands for it.
    const QSize decorations =
        frame.isNull() ? QSize(0, style()->pixelMetric(QStyle::PM_TitleBarHeight))
                       : QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
    const QSize room = available - decorations;
    if (client.width() <= room.width() && client.height() <= room.height()) {
        setMinimumSize(client);
        setMaximumSize(client);
        resize(client);
        return;
    }
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const QSize largest = client + QSize(bar, bar);
    setMinimumSize(largest.boundedTo(QSize(bar * 4, bar * 4)));
    setMaximumSize(largest);
    resize(QSize(client.width() + bar, client.height()).boundedTo(room).expandedTo(minimumSize()));
}

// Once the window manager has framed the window, the frame (title bar and borders) must fit
// the screen too: sized for the frame it really has, and moved so that none of it lies off
// screen. Only then, and when the frame changes: a window the user moves stays where it is put.
void frmMain::keepFrameOnScreen() {
    if (!isWindow() || !isVisible() || FittingFrame) return;
    const QRect available = screen()->availableGeometry();
    const QMargins frame(geometry().left() - frameGeometry().left(),
                         geometry().top() - frameGeometry().top(),
                         frameGeometry().right() - geometry().right(),
                         frameGeometry().bottom() - geometry().bottom());
    if (frame.isNull() || frame == FittedFrame) return;  // not framed yet, or fitted already
    FittingFrame = true;
    FittedFrame = frame;
    // At a fractional scale factor the frame's width in pixels is rounded: a pixel more keeps
    // its last device pixel on screen.
    const QMargins rounded = frame + QMargins(0, 0, 1, 1);
    fitToScreen(available.size(), rounded);
    const QSize outer = size().grownBy(rounded);
    const QPoint corner(
        std::clamp(frameGeometry().left(), available.left(), available.right() + 1 - outer.width()),
        std::clamp(frameGeometry().top(), available.top(),
                   available.bottom() + 1 - outer.height()));
    if (corner != frameGeometry().topLeft()) move(corner);
    FittingFrame = false;
}

void frmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    keepFrameOnScreen();
}

void frmMain::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    keepFrameOnScreen();
}

void frmMain::buildDeviceDetails() {
    Frame1 = place(new QGroupBox(QStringLiteral("Device details"), Client), "Frame1",
                   twips(120, 115, 4590, 2175));
    Frame1->setEnabled(false);
    constexpr int kCaptionLeft = 120, kCaptionWidth = 1500, kValueLeft = 1680, kValueWidth = 2760;
    const auto row = [&](int top, const QString& text) {
        caption(Frame1, text, twips(kCaptionLeft, top, kCaptionWidth, kRowHeight));
    };
    row(360, QStringLiteral("Serial Number"));
    SerNo = place(new ListControl(Frame1), "SerNo", twips(kValueLeft, 330, kValueWidth, 330));
    SerNo->setEnabled(false);
    row(720, QStringLiteral("Manufacturer"));
    lblManuf = valueLabel(Frame1, "lblManuf", twips(kValueLeft, 720, kValueWidth, kRowHeight));
    // Each value sits in the row whose caption names what it shows.
    row(1080, QStringLiteral("Product"));
    lblProduct = valueLabel(Frame1, "lblProduct", twips(kValueLeft, 1080, kValueWidth, kRowHeight));
    row(1440, QStringLiteral("Version"));
    lblVersion = valueLabel(Frame1, "lblVersion", twips(kValueLeft, 1440, kValueWidth, kRowHeight));
    row(1800, QStringLiteral("Software"));
    lblSoftware =
        valueLabel(Frame1, "lblSoftware", twips(kValueLeft, 1800, kValueWidth, kRowHeight));
    // Shown over the empty identity rows when a present device cannot be opened, with why.
    AccessOverIdentity = twips(kValueLeft, 700, kValueWidth, 1060);
    AccessOverSoftware = twips(kCaptionLeft, 1770, kValueLeft + kValueWidth - kCaptionLeft, 330);
    lblDeviceAccess = notice(Frame1, "lblDeviceAccess", AccessOverIdentity);
    lblDeviceAccess->setAutoFillBackground(true);
    lblDeviceAccess->setFrameShape(QFrame::Box);
    QPalette palette = lblDeviceAccess->palette();
    palette.setColor(QPalette::Window, QColor(255, 250, 205));
    lblDeviceAccess->setPalette(palette);
    lblDeviceAccess->hide();

    Timer = new QTimer(Frame1);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(50);
}

void frmMain::buildSettings() {
    Frame3 = place(new QGroupBox(QStringLiteral("Settings"), Client), "Frame3",
                   twips(120, 2400, 4590, 8600));
    OUT1EN = place(new QCheckBox(QStringLiteral("Enable Output 1"), Frame3), "OUT1EN",
                   twips(kLeft, 270, 2300, kRowHeight));
    OUT1ID = place(new QPushButton(QStringLiteral("Identify Output 1"), Frame3), "OUT1ID",
                   twips(kRight, 240, kRightWidth, 330));
    OUT2EN = place(new QCheckBox(QStringLiteral("Enable Output 2"), Frame3), "OUT2EN",
                   twips(kLeft, 600, 2300, kRowHeight));
    OUT2ID = place(new QPushButton(QStringLiteral("Identify Output 2"), Frame3), "OUT2ID",
                   twips(kRight, 570, kRightWidth, 330));
    caption(Frame3, QStringLiteral("Output drive strength"), twips(kLeft, 930, 2300, kRowHeight));
    Enc1 = place(new ListControl(Frame3), "Enc1", twips(kRight, 900, kRightWidth, 330));
    Enc1->setEnabled(false);

    separator(Frame3, twips(kLeft, 1290, 4230, 30));

    // "GPS reference, Hz" is the one caption longer than its column: two lines, smaller.
    QLabel* gpsCaption = caption(Frame3, QStringLiteral("GPS reference, Hz"),
                                 twips(kCaption, kFirst - 60, 1080, 420));
    gpsCaption->setWordWrap(true);
    QFont narrow = gpsCaption->font();
    narrow.setPixelSize(10);
    gpsCaption->setFont(narrow);
    GPS = place(new QLineEdit(Frame3), "GPS", twips(kLeft, kFirst, kValueWidthBox, 330));
    const auto divider = [&](const char* name, int index) {
        const int top = kFirst + index * kStep;
        caption(Frame3, QString::fromLatin1(name), twips(kCaption, top - 15, kCaptionWidth, kStep));
        return place(new QLineEdit(Frame3), name, twips(kLeft, top, kValueWidthBox, 330));
    };
    N31 = divider("N31", 1);
    N2_HS = divider("N2_HS", 2);
    N2_LS = divider("N2_LS", 3);
    N1_HS = divider("N1_HS", 4);
    NC1_LS = divider("NC1_LS", 5);
    NC2_LS = divider("NC2_LS", 6);
}

// Beside the divider column. Above OUT2 the column starts right of the GPS caption and keeps
// clear of the page buttons; from OUT2 down it widens to the divider captions, so that an
// entry of 15 significant digits shows in full.
void frmMain::buildFrequencyColumn() {
    caption(Frame3, QStringLiteral("Output 1, Hz"), twips(kRight, kFirst, kRightWidth, kRowHeight));
    Out1Freq =
        place(new QLineEdit(Frame3), "Out1Freq", twips(kRight, kFirst + 330, kRightWidth, 330));
    Label13 = place(new QLabel(Frame3), "Label13", twips(kRight, kFirst + 690, 1065, 240));
    caption(Frame3, QStringLiteral("Output 2, Hz"), twips(kWide, kFirst + 990, 1425, 270));
    OUT2 = place(new ListControl(Frame3), "OUT2", twips(kWide, kFirst + 1290, kWideWidth, 330));
    OUT2->setEnabled(false);
    constexpr int kButton = (kWideWidth - 60) / 2;
    FindFreq = place(new QPushButton(QStringLiteral("Find"), Frame3), "FindFreq",
                     twips(kWide, kFirst + 1710, kButton, 360));
    SetFreq = place(new QPushButton(QStringLiteral("Update"), Frame3), "SetFreq",
                    twips(kWide + kButton + 60, kFirst + 1710, kButton, 360));
    Sleep_cmd = place(new QPushButton(QStringLiteral("Sleep"), Frame3), "Sleep_cmd",
                      twips(kWide, kFirst + 2130, kButton, 360));
    WSPR = place(new QPushButton(QStringLiteral("WSPR"), Frame3), "WSPR",
                 twips(kWide + kButton + 60, kFirst + 2130, kButton, 360));
    WSPR->hide();  // the beacon trigger is complete but not offered on screen

    // On the window, inside the frame's right edge, beside the "Output 2, Hz" caption.
    BtnPrev = place(new QPushButton(QStringLiteral("<--"), Client), "BtnPrev",
                    twips(3960, 4560, 600, 240));
    BtnNxt = place(new QPushButton(QStringLiteral("-->"), Client), "BtnNxt",
                   twips(3960, 4800, 600, 240));
    BtnPrev->hide();
    BtnNxt->hide();
}

void frmMain::buildSettingsFoot() {
    constexpr int phaseTop = kFirst + 7 * kStep + 120;
    separator(Frame3, twips(kLeft, phaseTop - 60, 4230, 30));
    PhaseBox = place(new ListControl(Frame3), "PhaseBox",
                     twips(kLeft, phaseTop + 30, kValueWidthBox, 330));
    PhaseBox->setEnabled(false);
    caption(Frame3, QStringLiteral("Phase shift, degrees"),
            twips(kCaption, phaseTop + 60, 2700, kRowHeight));
    BW = place(new QLineEdit(Frame3), "BW", twips(kLeft, phaseTop + 420, kValueWidthBox, 330));
    caption(Frame3, QStringLiteral("BW"), twips(kCaption, phaseTop + 450, 900, kRowHeight));
    F3lbl = place(new QLabel(Frame3), "F3lbl", twips(kLeft, phaseTop + 840, 4230, kRowHeight));
    Fosclbl = place(new QLabel(Frame3), "Fosclbl", twips(kLeft, phaseTop + 1200, 4230, kRowHeight));
    Label16 = place(new QLabel(Frame3), "Label16", twips(kLeft, phaseTop + 1560, 4230, kRowHeight));
    LOS = indicator(Frame3, "LOS", QStringLiteral("No GPS signal"),
                    twips(2640, phaseTop + 1200, kRightWidth, kRowHeight));
    LOL = indicator(Frame3, "LOL", QStringLiteral("No PLL lock"),
                    twips(2640, phaseTop + 1560, kRightWidth, kRowHeight));
    lblMessage = notice(Frame3, "lblMessage", twips(kLeft, phaseTop + 2040, 4230, 900));
    lblMessage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // In the room left at the foot of the frame, below the message line.
    LockStrip =
        place(new LockHistoryStrip(Frame3), "LockStrip", twips(kLeft, phaseTop + 2990, 4230, 1440));
}

void frmMain::connectHandlers() {
    connect(Timer, &QTimer::timeout, this, &frmMain::Timer_Timer);
    SerNo->setClickHandler([this] { SerNo_Click(); });
    // toggled runs for a user's click and for a value changed from code, never for a value
    // set to what it already is.
    connect(OUT1EN, &QCheckBox::toggled, this, &frmMain::OUT1EN_Click);
    connect(OUT2EN, &QCheckBox::toggled, this, &frmMain::OUT2EN_Click);
    connect(OUT1ID, &QPushButton::clicked, this, &frmMain::OUT1ID_Click);
    connect(OUT2ID, &QPushButton::clicked, this, &frmMain::OUT2ID_Click);
    Enc1->setClickHandler([this] { Enc1_Click(); });
    connect(Out1Freq, &QLineEdit::textChanged, this, &frmMain::Out1Freq_Change);
    // Enter after typing a frequency searches for it; a disabled "Find" ignores it.
    connect(Out1Freq, &QLineEdit::returnPressed, FindFreq, &QPushButton::click);
    connect(NC1_LS, &QLineEdit::textChanged, this, &frmMain::NC1_LS_Change);
    OUT2->setClickHandler([this] { OUT2_Click(); });
    connect(FindFreq, &QPushButton::clicked, this, &frmMain::FindFreq_Click);
    connect(SetFreq, &QPushButton::clicked, this, &frmMain::SetFreq_Click);
    connect(Sleep_cmd, &QPushButton::clicked, this, &frmMain::Sleep_cmd_Click);
    connect(WSPR, &QPushButton::clicked, this, &frmMain::WSPR_Click);
    connect(BtnNxt, &QPushButton::clicked, this, &frmMain::BtnNxt_Click);
    connect(BtnPrev, &QPushButton::clicked, this, &frmMain::BtnPrev_Click);
    connect(WriteRegister, &QPushButton::clicked, this, &frmMain::WriteRegister_Click);
    connect(WsprTimer, &QTimer::timeout, this, &frmMain::WsprCheck);
}

void frmMain::Form_Load() {
    LinkReady = false;
    ReopenPending = false;
    DeviceListReady = false;
    show();
    Scan_USB_devices();
    DeviceFound = FindTheHid();
    ReadDeviceStatus();
    Timer->start();
    lblSoftware->setText(QStringLiteral("V") + QString::fromLatin1(QUARVEL_VERSION));
}

void frmMain::Form_Unload() {
    if (Unloaded) return;
    Unloaded = true;
    Timer->stop();
    WsprTimer->stop();
    WsprScheduled = false;
    DeviceListReady = false;
    DeviceHandle.close();
    ReadHandle.close();
    DeviceFound = false;
    LinkReady = false;
}

void frmMain::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void frmMain::Timer_Timer() {
    PollInputReport();
}

}  // namespace quarvel
