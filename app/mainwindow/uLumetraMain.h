#pragma once
// The main window, TfrmMain: it owns the control box list, the timing-software bridge with
// its one-second search, the control box page, the status bar and the tray icon.
//
// The window's logic is portable; its Win32 side (window class, controls, tray icon,
// system timer) lives in the uLumetraMain*Win32.cpp files behind TfrmMainPeer, and reaches
// the logic only through the components' state and the handlers below. The source is
// split by concern:
//   uLumetraMain.cpp              construction of the components, the log, the services
//   uLumetraMainStartup.cpp       creation steps, showing, closing, the tray menu's actions
//   uLumetraMainControlBoxes.cpp  the "Control Boxes" page, brightness, the status bar
//   uLumetraMainSettings.cpp      the settings loaded and saved, the logon entry
//   uLumetraMainUpdate.cpp        "Check for Update", the check at start-up, the engine's answers
//   app/bridge/uLumetraMainBridge.cpp  the timing software's search, keys sent, tray status
//   uLumetraMainHost.cpp          the Linux build's stand-in for the Win32 side
// and on Windows uLumetraMainWin32.cpp (window class, tray icon, timer) with, around
// uLumetraMainControlsWin32.h, the controls (Controls), the two pages (Pages), the grid
// (Grid), the toolbar and menus (Menus), the status bar (StatusBar), the dark look
// (DarkLook) and the messages (Messages), each in uLumetraMain<part>Win32.cpp.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DesktopWindows.h"
#include "KeyDownSender.h"
#include "MainWindowComponents.h"
#include "VrRunOnce.h"

class TSD;
class TSDList;
class TWebUpdate;
class TSDListPort;
class TfrmMain;

// Key index to the function key sent to the timing software: F5, F6, F7, F12, F3, F8.
inline constexpr unsigned VantoKeyMap[] = {116, 117, 118, 123, 114, 119};
inline constexpr int VantoKeyCount = static_cast<int>(sizeof(VantoKeyMap) / sizeof(VantoKeyMap[0]));

// The timing software's main window title starts with this, in any ASCII letter case.
inline constexpr const wchar_t* VantoTitlePrefix = L"VANTO3";
// Titles are read into a buffer of this many characters, the terminating zero included.
inline constexpr std::size_t VantoTitleBufferChars = 255;

// WM_KEYDOWN, as sent to the timing software's window.
inline constexpr unsigned VantoKeyDownMessage = 256;

// The pictures of imlTrayIcon, in order, and the resources that hold them.
enum TTrayPicture : int { tpNoControlBox = 0, tpControlBoxOnly = 1, tpReady = 2 };
inline constexpr const wchar_t* TrayIconResources[] = {L"TRAYNOCONTROLBOX", L"TRAYCONTROLBOX", L"TRAYREADY"};

// What the bridge asks of the control box list. The window's own list serves it; the
// simulator and tests may put another in its place.
class TSDListLink {
public:
    virtual ~TSDListLink() = default;
    virtual bool HasCurrentSD() = 0;
    virtual void SetActive(bool Value) = 0;
};

// The outside services of one main window. Null members take the platform's own.
struct TfrmMainServices {
    DesktopWindows* Desktop = nullptr;  // not owned
    TSDListLink* SDList = nullptr;      // not owned; null: the window's FSDListPort
    // Makes the control box list of the creation steps (SDListPort.h); empty: the list
    // over the platform's HID devices, when the build has one.
    std::function<std::unique_ptr<TSDListPort>()> CreateSDList;
    // Told as the window's platform side makes each of its parts: L"window" (the top-level
    // window) and then L"controls" (everything in it). What it throws is that part
    // failing, as it does when the display is not ready yet. Empty: nothing fails.
    std::function<void(const std::wstring& part)> OnMakingWindow;
    // Shows the operator a message; empty: the program's message box.
    std::function<void(const std::wstring& text)> ShowMessage;
    // Called by the creation steps just before the update check at start-up (the
    // simulator goes on with its script from there while the check waits on the network).
    std::function<void(TfrmMain&)> BeforeStartupUpdateCheck;
};

// What the operator is told when Windows refuses the key-downs sent to the timing
// software, which then runs with higher rights than this program.
inline constexpr const wchar_t* VantoRefusesKeysHint = L"Vanto V3 runs with higher rights";
inline constexpr const wchar_t* VantoRefusesKeysMessage =
    L"Vanto V3 runs with higher rights than Lumetra Control Box, so Windows does not let the keys "
    L"through to it. Start Lumetra Control Box with the same rights as Vanto V3 (Run as administrator).";

// The timing software that does not handle a key-down within VantoKeyDownLimit is told as
// not responding until a key-down is confirmed again; a key-down confirmed later than
// VantoLateKeyDown after its report is traced with its delay.
inline constexpr std::chrono::milliseconds VantoKeyDownLimit{500};
inline constexpr std::chrono::milliseconds VantoLateKeyDown{50};
inline constexpr const wchar_t* VantoNotRespondingHint = L"Vanto V3 not responding";
inline constexpr const wchar_t* VantoNotRespondingMessage =
    L"Vanto V3 is not responding: the keys pressed meanwhile reach it when it answers again, "
    L"with a delay written in the trace. Check the times of those runners.";
// What the operator is told when the trace cannot be written.
inline constexpr const wchar_t* TraceNotWrittenHint = L"Error.log cannot be written";

// The window's platform side; made by CreateWnd, gone with the window.
class TfrmMainPeer {
public:
    virtual ~TfrmMainPeer() = default;
    // The top-level window, 0 while there is none.
    virtual TWindowHandle Handle() const = 0;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    virtual bool Visible() const = 0;
    // The control that shows `component`, 0 when it has none.
    virtual TWindowHandle ComponentHandle(const TComponent& component) const = 0;
    // Paints pending changes at once.
    virtual void Repaint() {}
    // Takes the tray icon away, asking the desktop without waiting long for its answer;
    // the window itself stays until the peer goes.
    virtual void RemoveTrayIcon() {}
};

class TfrmMain {
public:
    explicit TfrmMain(TfrmMainServices services = {});
    ~TfrmMain();
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    // Makes the window, its controls, the tray icon and the system timer (Win32); without
    // a desktop (Linux build) it makes nothing and the components' state is all there is.
    void CreateWnd();
    TfrmMainPeer* Peer() const { return FPeer.get(); }
    const TfrmMainServices& Services() const { return FServices; }

    // --- Start-up, lifecycle and tray -------------------------------------------------
    void FormCreate(void* Sender);
    void FormShow(void* Sender);
    void FormCloseQuery(void* Sender, bool& CanClose);
    void FormClose(void* Sender);
    void FormDestroy(void* Sender);
    void FormResize(void* Sender);
    void TrayIcon1DblClick(void* Sender);
    void actParamExecute(void* Sender);
    void actQuitterExecute(void* Sender);
    void actLancerAuDemarrageExecute(void* Sender);
    void actAlwaysCheckUpdatesExecute(void* Sender);
    void actCheckUpdatesExecute(void* Sender);
    void LoadSettings();
    void SaveSettings();

    // Handlers given to the control box list.
    void SDListCurrentSDChange(void* _Sender, TSD*& _SD);
    void SDListPushButton(void* _Sender, std::int32_t _IdButton);
    void SDListChange(void* _Sender);

    // --- Timing-software bridge and tray status ---------------------------------------
    // One window of the search: keeps the last visible window whose title starts with
    // "VANTO3" (ASCII case ignored) as the only entry of `_List`. Always true, so that the
    // search visits every window.
    bool EnumWindowsCallback(TWindowHandle _Handle, std::vector<std::wstring>& _List);
    void TimerFindVantoTimer(void* Sender);
    // Event, folder and race from the timing software's title; all empty when the title
    // does not hold them.
    static void ParseWindowTitle(const std::wstring& _Title, std::wstring& _Epreuve, std::wstring& _Dossier,
                                 std::wstring& _Course);
    void ClearRaceLabels();
    // Forwards key `_IdButton` to the timing software as its function key.
    void EnvoyerVanto(std::int32_t _IdButton);
    void UpdateStatus();
    void SetTrayHint(const std::wstring& _Line2, const std::wstring& _Line3);

    // --- Control box page, brightness and status bar ----------------------------------
    void FillGrid();
    // The default box's red heart (imlStatusSDList image 2) is not copied into a bitmap
    // per row (ImageListToBitmap): StringGrid1 marks the row (Hearts) and the grid's cell drawing
    // (StringGrid1DrawCell, TExtras::GridCustomDraw in uLumetraMainGridWin32.cpp) draws the
    // image 2 pixels right of and 4 pixels below the "Def" cell's corner.
    std::wstring GetVersionText();
    void ResizeStatusPanels();
    void SetBrigtness(int _Value);
    void StringGrid1MouseDown(void* Sender, int X, int Y, bool RightButton);
    // Panel 3's logo (StatusBar1DrawPanel) is painted by TExtras::DrawLogo in
    // uLumetraMainStatusBarWin32.cpp, reading the "Logo" resource anew for every paint.
    void tsSDListShow(void* Sender);
    void TrackBar1Change(void* Sender);
    void actSetAsDefaultExecute(void* Sender);
    void actSetAsDefaultUpdate(void* Sender);
    void actNoDefaultExecute(void* Sender);
    void actNoDefaultUpdate(void* Sender);
    void actRefreshListExecute(void* Sender);

    // --- Key-downs on their way ----------------------------------------------------------
    // Serves the main thread until every key-down handed to the sender has its result and
    // the result has been handled, or `timeout` has passed; true when all have.
    bool SettleKeyDowns(std::chrono::milliseconds timeout);
    // Every key-down handed to the sender has its result, handled.
    bool KeyDownsSettled() const { return !FKeyDownSender || FKeyDownSender->Settled(); }
    // Key-downs handed to the sender so far, and when the last one was (benchmarks).
    std::uint64_t FKeyDownsHandedOff = 0;
    std::chrono::steady_clock::time_point FLastKeyDownHandOff;
    // Ends the sender (the way out): key-downs still waiting are traced as not sent, one on
    // its way as not confirmed. Waits for nothing longer than the send's own bound.
    void StopKeyDowns();
    // The results the sender has for the main thread: traced, and the tray follows.
    void KeyDownsDone();

    // --- Operator notices ---------------------------------------------------------------
    // Tells the operator at once in the tray; the message box follows from the top-level
    // message loop only, never inside a press or on the way out.
    void ShowOperatorMessage(const std::wstring& _Text);
    // A notice of the trace's writer (any thread): a failure's message, empty once lines
    // are written again.
    void TraceNotice(const std::wstring& _Message);

    // --- Error log --------------------------------------------------------------------
    // One line into FLogErrorFile (the log folder's "Error.log" until FormCreate sets it).
    void LogError(const std::wstring& _ProcName, const std::wstring& _ErrorStr);

    // --- Fields -----------------------------------------------------------------------
    bool FDemarrage = false;
    bool FForceClose = false;
    // True once LoadSettings has read both settings; the settings are saved only then, so
    // that a start that failed before it never writes states that nobody chose.
    bool FSettingsLoaded = false;
    std::wstring FAppName;
    std::wstring FRepAppData;
    std::wstring FLogErrorFile;
    TSD* FCurrentSD = nullptr;  // not owned
    // Titles of the timing-software windows found by the last search: at most one.
    std::vector<std::wstring> FListChercheVanto;
    // -1 not searched yet, 0 absent, 1 present.
    int FTrouveVanto = -1;
    TWindowHandle FHandleVanto = 0;
    // Windows refused the last key-down sent to the timing software (higher rights); the
    // tray says so until a key gets through again or the timing software goes.
    bool FVantoRefusesKeys = false;
    // The operator has had the message about it; again only after a key got through.
    bool FVantoRefusalTold = false;
    // A key-down was not handled in time; the tray says so until one is confirmed again.
    bool FVantoNotResponding = false;
    // The trace cannot be written; the tray says so until lines are written again.
    bool FTraceNotWritten = false;
    // The way out has begun: no message box any more.
    bool FEnding = false;
    // The control box list as the window holds it (SDListPort.h); made by FormCreate.
    std::unique_ptr<TSDListPort> FSDListPort;
    // Outer width of the window in pixels, kept up to date by the platform side.
    int Width = 328;

    // --- Components -------------------------------------------------------------------
    TPageControl PageControl1{L"PageControl1"};
    TTabSheet tsParam{L"tsParam"};
    TTabSheet tsSDList{L"tsSDList"};
    TTabSheet TabSheet1{L"TabSheet1"};
    TStatusBar StatusBar1{L"StatusBar1"};

    // Settings page.
    TLabel lblBrigthness{L"lblBrigthness"};
    TTrackBar TrackBar1{L"TrackBar1"};
    TCheckBox ckDemarrage{L"ckDemarrage"};
    TGroupBox gbVanto{L"gbVanto"};
    TLabel lblEventCaption{L"lblEventCaption"};
    TLabel lblFolderCaption{L"lblFolderCaption"};
    TLabel lblRaceCaption{L"lblRaceCaption"};
    TLabel lblEpreuve{L"lblEpreuve"};
    TLabel lblDossier{L"lblDossier"};
    TLabel lblCourse{L"lblCourse"};

    // Control box page.
    TStringGrid StringGrid1{L"StringGrid1"};
    TPopupMenu PopupMenuGrille{L"PopupMenuGrille"};
    // The toolbar above the grid: its buttons as items ("-" for a separator).
    TPopupMenu ToolBar1{L"ToolBar1"};

    // Carriers of the six default key pictures, on a page never shown.
    TSpeedButton AeroSpeedButton0{L"AeroSpeedButton0"};
    TSpeedButton AeroSpeedButton1{L"AeroSpeedButton1"};
    TSpeedButton AeroSpeedButton2{L"AeroSpeedButton2"};
    TSpeedButton AeroSpeedButton3{L"AeroSpeedButton3"};
    TSpeedButton AeroSpeedButton4{L"AeroSpeedButton4"};
    TSpeedButton AeroSpeedButton5{L"AeroSpeedButton5"};

    // Tray, menus, actions, image lists, timer.
    TTrayIcon TrayIcon1{L"TrayIcon1"};
    TPopupMenu PopupMenu1{L"PopupMenu1"};
    TAction actParam{L"actParam"};
    TAction actLancerAuDemarrage{L"actLancerAuDemarrage"};
    TAction actAlwaysCheckUpdates{L"actAlwaysCheckUpdates"};
    TAction actCheckUpdates{L"actCheckUpdates"};
    TAction actQuitter{L"actQuitter"};
    TAction actSetAsDefault{L"actSetAsDefault"};
    TAction actNoDefault{L"actNoDefault"};
    TAction actRefreshList{L"actRefreshList"};
    TImageList ImageList1{L"ImageList1"};
    TImageList imlTrayIcon{L"imlTrayIcon"};
    TImageList imlStatusSDList{L"imlStatusSDList"};
    TTimer TimerFindVanto{L"TimerFindVanto"};
    std::unique_ptr<TWebUpdate> WebUpdate1;
    // The single-instance rule; holds its mutex until the window goes.
    TVrRunOnce VrRunOnce1;

private:
    // Design state of the start-up and tray side, and of the control box page.
    void DesignStartup();
    void DesignControlBoxes();
    DesktopWindows& Desktop() const;
    TSDListLink& SDListLink();
    // The window the last search recorded, while it is still there, visible, and its title
    // still starts with the stored one; 0 otherwise.
    TWindowHandle LastFoundVantoWindow(const std::wstring& _Title);
    // A search of the desktop then and there, as the tick's, without its bookkeeping (the
    // labels, the tray, the list and the trace follow at the next tick): the window found,
    // or 0.
    TWindowHandle SearchVantoNow();
    TKeyDownSender& KeyDownSender();
    // Message boxes waiting for the top-level loop.
    void ShowPendingMessages();

    std::unique_ptr<TKeyDownSender> FKeyDownSender;
    std::vector<std::wstring> FPendingMessages;
    // Work posted to the main thread checks this before touching the window.
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);

    TfrmMainServices FServices;
    // Serves the bridge while the window has no list of its own.
    std::unique_ptr<TSDListLink> FNoSDListLink;
    std::unique_ptr<TfrmMainPeer> FPeer;
};
