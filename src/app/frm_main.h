#pragma once
// The one window: it owns the device connection, the controls and every procedure. The
// arithmetic and byte layouts live in the pure modules; the procedures here read controls,
// call them and write controls, in the order the tool has always done it.

#include <QDateTime>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/generators.h"
#include "device/hid_backend.h"
#include "device/open_handle.h"
#include "planning/plan_fields.h"

class QCheckBox;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QTimer;

namespace quarvel {

class ListControl;
class LockHistoryStrip;
struct DeviceStatus;

// What the window needs from its surroundings besides the HID layer; tests replace them.
struct WindowServices {
    // Shows a modal warning with one OK button.
    std::function<void(QWidget* parent, const QString& title, const QString& text)> warn;
    // The local wall clock, for the beacon trigger.
    std::function<QDateTime()> localClock;
    // The short pause before each device request of the status readout.
    std::function<void()> requestPause;
    static WindowServices standard();
};

class frmMain : public QWidget {
    Q_OBJECT
  public:
    explicit frmMain(HidBackend& backend, WindowServices services = WindowServices::standard(),
                     QWidget* parent = nullptr);
    ~frmMain() override;

    void Form_Load();
    void Form_Unload();

    // Public procedures of the window.
    void Scan_USB_devices();
    bool FindTheHid();

    // Controls, named as the tool has always named them.
    QGroupBox* Frame1 = nullptr;
    ListControl* SerNo = nullptr;
    QLabel* lblManuf = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblProduct = nullptr;
    QLabel* lblSoftware = nullptr;
    QLabel* lblDeviceAccess = nullptr;  // why a present device could not be opened
    QTimer* Timer = nullptr;

    QGroupBox* Frame3 = nullptr;
    QCheckBox* OUT1EN = nullptr;
    QPushButton* OUT1ID = nullptr;
    QCheckBox* OUT2EN = nullptr;
    QPushButton* OUT2ID = nullptr;
    ListControl* Enc1 = nullptr;
    QLineEdit* Out1Freq = nullptr;
    QLabel* Label13 = nullptr;
    ListControl* OUT2 = nullptr;
    QPushButton* FindFreq = nullptr;
    QPushButton* SetFreq = nullptr;
    QPushButton* Sleep_cmd = nullptr;
    QLineEdit* GPS = nullptr;
    QLineEdit* N31 = nullptr;
    QLineEdit* N2_HS = nullptr;
    QLineEdit* N2_LS = nullptr;
    QLineEdit* N1_HS = nullptr;
    QPushButton* WSPR = nullptr;
    QLineEdit* NC1_LS = nullptr;
    QLineEdit* NC2_LS = nullptr;
    ListControl* PhaseBox = nullptr;
    QLineEdit* BW = nullptr;
    QLabel* F3lbl = nullptr;
    QLabel* Fosclbl = nullptr;
    QLabel* LOS = nullptr;
    QLabel* Label16 = nullptr;
    QLabel* LOL = nullptr;
    LockHistoryStrip* LockStrip = nullptr;  // the last hour of GPS signal and PLL lock
    // The window's one line for what the user must know and can act on; the modal box is
    // kept for the search's "Not found" and for a field that cannot be sent.
    QLabel* lblMessage = nullptr;

    QPushButton* BtnPrev = nullptr;
    QPushButton* BtnNxt = nullptr;
    QLineEdit* REG = nullptr;
    QLineEdit* DATA = nullptr;
    QPushButton* WriteRegister = nullptr;

    // Connection state, readable by tests and the demo.
    bool deviceFound() const { return DeviceFound; }
    bool linkReady() const { return LinkReady; }
    bool reopenPending() const { return ReopenPending; }
    bool deviceListReady() const { return DeviceListReady; }
    int featureReportLength() const { return FeatureReportLength; }
    int inputReportLength() const { return InputReportLength; }
    bool lastResult() const { return LastResult; }
    bool identifyOutput1On() const { return IdentifyOutput1On; }
    bool identifyOutput2On() const { return IdentifyOutput2On; }
    int out2Page() const { return Fields.out2().page(); }
    int out2PageCount() const { return Fields.out2().pageCount(); }
    bool wsprRunning() const { return WsprScheduled; }

    // The beacon schedule's check, run by its timer; public so tests can drive the clock.
    void WsprCheck();

    // Sizes the window, with a frame of these margins around it, for a screen area of this
    // size: fixed at its drawn size when that fits, otherwise no larger than the area, with
    // the client area scrolled. Without margins (not framed yet) the title bar stands for the
    // frame. Public so tests can try other screens and frames.
    void fitToScreen(const QSize& available, const QMargins& frame = {});

  protected:
    friend struct FrmMainTestAccess;  // lets the tests run handlers as the toolkit would
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

  private:
    void buildControls();
    void buildDeviceDetails();
    void buildSettings();
    void buildFrequencyColumn();
    void buildSettingsFoot();
    void connectHandlers();
    void keepFrameOnScreen();

    // Device link.
    void SerNo_Click();
    void RefreshDeviceList();
    void ShowDeviceAccess(bool noneListed, const std::optional<Refusal>& refusal,
                          const QStringList& refused);
    void CloseConnection();
    bool SendFeature(std::span<const std::uint8_t> frame);
    bool CommandsAllowed() const { return DeviceFound && LinkReady; }

    // Status and lock monitor.
    void Timer_Timer();
    void ReadDeviceStatus();
    void ResetDeviceControls();
    void ShowStatus(const DeviceStatus& status);
    void PollInputReport();

    // Planning.
    void ValidateSettings();
    void FindFreq_Click();
    void BuildOutput2List();
    void BtnNxt_Click();
    void BtnPrev_Click();
    void OUT2_Click();
    void Out1Freq_Change();
    void NC1_LS_Change();
    void UpdatePhaseEnable();
    void FillPhaseList();
    void TakeFields();
    void ShowFields();
    void ShowPageButtons(bool previous, bool next);
    void OnFields(const std::function<void()>& step);  // the texts taken, the step, shown

    // Commands.
    void SetFreq_Click();
    void ShowHeldPlan(const std::optional<PlanRecord>& held);
    void OUT1EN_Click();
    void OUT2EN_Click();
    void OUT1ID_Click();
    void OUT2ID_Click();
    void Identify(int output);
    void Enc1_Click();
    void Sleep_cmd_Click();
    void WriteRegister_Click();
    void WSPR_Click();
    void ScheduleWsprCheck();

    HidBackend& backend_;
    WindowServices services_;
    QScrollArea* Scroller = nullptr;
    QWidget* Client = nullptr;                     // holds every control at its drawn place
    QRect AccessOverIdentity, AccessOverSoftware;  // where lblDeviceAccess goes
    QMargins FittedFrame;                          // the frame the size was last fitted for
    bool FittingFrame = false;

    std::string DevicePath;
    OpenHandle DeviceHandle;
    OpenHandle ReadHandle;
    HidAttributes Attributes;
    std::int16_t FeatureReportLength = 0;
    std::int16_t InputReportLength = 0;
    bool LastResult = false;  // whether the last command reached the device

    bool DeviceFound = false;
    bool LinkReady = false;
    bool ReopenPending = false;
    bool DeviceListReady = false;
    std::vector<std::string> ListedPaths;  // the generators the last scan found
    bool ListIncomplete = false;           // one of them could not be listed
    bool IdentifyOutput1On = false;
    bool IdentifyOutput2On = false;
    bool Unloaded = false;

    // What the plan fields hold; the controls show it. While ShowFields writes the controls,
    // their handlers stay quiet: the step that changed the fields has already done their work.
    PlanFields Fields;
    std::array<QLineEdit*, kPlanFieldCount> FieldEdits{};  // by field; none for PhaseBox
    bool ShowingFields = false;
    std::uint32_t Out2ShownRevision = 0, PhaseShownRevision = 0;

    QTimer* WsprTimer = nullptr;
    bool WsprScheduled = false;
    QDateTime LastWsprTrigger;  // the even minute that got its trigger
};

}  // namespace quarvel
