// Resource numbers and command identifiers of lumora2003. Every menu, accelerator table and
// dialog template exists twice, Chinese and English; the pair members share one set of
// command and control identifiers, so code may pick a template by language and then address
// its items by the numbers below.
#pragma once

namespace res {

// Language flag values (application-wide, see resources.h).
inline constexpr int kLangChinese = 0;
inline constexpr int kLangEnglish = 1;

// Menus, accelerator tables, document strings and the tool bar (main frame).
inline constexpr int kMainMenuChinese = 128;  // also the tool bar resource
inline constexpr int kMainMenuEnglish = 133;
inline constexpr int kToolBar = 128;
inline constexpr int kSnapshotMenuChinese = 130;
inline constexpr int kSnapshotMenuEnglish = 134;
inline constexpr int kPlaybackMenuChinese = 131;
inline constexpr int kPlaybackMenuEnglish = 135;

// Dialog templates (Chinese / English pairs with the same controls, and the skin host).
inline constexpr int kAboutBoxChinese = 100;
inline constexpr int kAboutBoxEnglish = 136;
inline constexpr int kReadyDlgChinese = 102;
inline constexpr int kReadyDlgEnglish = 139;
inline constexpr int kSetFileSizeDlgChinese = 103;
inline constexpr int kSetFileSizeDlgEnglish = 143;
inline constexpr int kTimeLimitDlgChinese = 104;
inline constexpr int kTimeLimitDlgEnglish = 140;
inline constexpr int kFrameRateDlgChinese = 105;
inline constexpr int kFrameRateDlgEnglish = 141;
inline constexpr int kCompressorDlgChinese = 106;
inline constexpr int kCompressorDlgEnglish = 142;
inline constexpr int kVideoFormatDlgChinese = 108;
inline constexpr int kVideoFormatDlgEnglish = 137;
inline constexpr int kSkinHostDlg = 109;

// Dialog controls the code addresses.
inline constexpr int kIdcCaptureFileName = 1000;  // ready to capture: the file name
inline constexpr int kIdcFreeDiskSpace = 1001;    // set file size: free space (MB)
inline constexpr int kIdcCaptureFileSize = 1002;  // set file size: size to allocate (MB)
inline constexpr int kIdcUseTimeLimit = 1003;
inline constexpr int kIdcTimeLimit = 1004;
inline constexpr int kIdcUseFrameRate = 1005;
inline constexpr int kIdcFrameRate = 1006;
inline constexpr int kIdcCompressorList = 1007;
inline constexpr int kIdcColorSpace = 1020;
inline constexpr int kIdcOutputSize = 1021;
inline constexpr int kIdcSkinControl = 1023;

// Child identifiers the dialogs share with the platform's message boxes.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// Framework string identifiers.
inline constexpr int kStrAppTitle = 57344;
inline constexpr int kStrIdleMessage = 57345;
inline constexpr int kStrUntitled = 61440;
// The program's own strings.
inline constexpr int kStrDeviceAccessDenied = 160;  // %1: the device's name
inline constexpr int kStrHelpUnavailable = 161;     // %1: the help page's path
// Texts of the dialogs' data exchange when an edit box holds what its field cannot take.
inline constexpr int kStrParseInt = 0xF110;
inline constexpr int kStrParseReal = 0xF111;
inline constexpr int kStrParseIntRange = 0xF112;  // %1, %2: the lowest and highest allowed
inline constexpr int kStrParseUInt = 0xF117;

}  // namespace res

// Command identifiers. The main menu's own commands, the device ranges that the device
// lists fill in, and the framework's standard commands that the menus and accelerator tables
// carry.
namespace cmd {

// Devices menu: one entry per listed device, by position.
inline constexpr int kDeviceFirst = 16;
inline constexpr int kDeviceLast = 25;
inline constexpr int kDeviceSlots = kDeviceLast - kDeviceFirst + 1;
// Options menu: the selected device's own dialogs and property pages.
inline constexpr int kDeviceDialogFirst = 42;
inline constexpr int kDeviceDialogLast = 57;

inline constexpr int kPreview = 32773;
inline constexpr int kStartCapture = 32774;
inline constexpr int kStopCapture = 32775;
inline constexpr int kSetFrameRate = 32776;
inline constexpr int kSetTimeLimit = 32777;
inline constexpr int kSetCaptureFile = 32778;
inline constexpr int kAllocateFileSpace = 32779;
inline constexpr int kSaveCapturedVideoAs = 32780;
inline constexpr int kCompression = 32781;
inline constexpr int kSnapshot = 32782;
inline constexpr int kSave = 32783;  // snapshot window
inline constexpr int kEnhancedControl = 32784;
inline constexpr int kVideoPlayback = 32785;
inline constexpr int kLanguageChinese = 32808;
inline constexpr int kLanguageEnglish = 32809;
inline constexpr int kStyleGreen = 32810;
inline constexpr int kStyleGray = 32811;
inline constexpr int kStylePaper = 32812;
inline constexpr int kStyleMedia = 32813;
inline constexpr int kStyleChizh = 32814;
inline constexpr int kStyleTopSecret = 32815;

// Playback window (menus 131 / 135).
inline constexpr int kPlayOpenClip = 32789;
inline constexpr int kPlayExit = 32791;
inline constexpr int kPlayPausePlay = 32792;
inline constexpr int kPlayStop = 32793;
inline constexpr int kPlayNormalSize = 32794;
inline constexpr int kPlayDoubleSize = 32795;
inline constexpr int kPlayFullScreen = 32796;
inline constexpr int kPlayRateIncrease = 32797;
inline constexpr int kPlayRateDecrease = 32798;
inline constexpr int kPlayRateNormal = 32799;
inline constexpr int kPlayRateHalf = 32800;
inline constexpr int kPlayRateDouble = 32801;

// The framework's standard commands.
inline constexpr int kFileNew = 57600;
inline constexpr int kFileOpen = 57601;
inline constexpr int kFileClose = 57602;  // the playback window's "close clip"
inline constexpr int kFileSave = 57603;
inline constexpr int kFilePrintSetup = 57606;
inline constexpr int kFilePrint = 57607;
inline constexpr int kEditCopy = 57634;
inline constexpr int kEditCut = 57635;
inline constexpr int kEditPaste = 57637;
inline constexpr int kEditUndo = 57643;
inline constexpr int kAppAbout = 57664;
inline constexpr int kAppExit = 57665;
inline constexpr int kHelp = 57670;
inline constexpr int kNextPane = 57680;
inline constexpr int kPrevPane = 57681;

}  // namespace cmd
