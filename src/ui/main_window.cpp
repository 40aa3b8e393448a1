// The applicator's entry point, its full-screen backdrop window and the wizard flow that
// runs once from the window's command handler: package, validation, search, pages, apply
// and the final message.
#include "ui/main_window.h"

#include <cstring>
#include <string>

#include "apply/driver.h"
#include "apply/outcome.h"
#include "io/file_ops.h"
#include "package/message_table.h"
#include "package/package.h"
#include "ui/choosers.h"
#include "ui/front_end_rules.h"
#include "ui/pages.h"
#include "ui/progress_dialog.h"
#include "ui/resource.h"
#include "ui/win32_handles.h"

char PackagePath[os::kMaxPath];
char TargetFolder[os::kMaxPath];
HINSTANCE ModuleInstance;
HBITMAP WizardPicture;

namespace {

constexpr char kWindowClass[] = "Ambrel32";
constexpr char kWindowTitle[] = "Corvelle Ambrel";
// The two rotated notices at the left edge, read from the bottom upwards.
constexpr const char* kSideNotices[2] = {"Ambrel Upgrade Wizard 2.5 by Corvelle",
                                         "Copyright \xA9 Corvelle. All rights reserved."};
constexpr int kSideNoticeX[2] = {22, 44};

HFONT TitleFont;
HFONT SideFont;
// The command line named a path that does not fit PackagePath: the package is invalid.
bool PackagePathRefused;

// The package path rule: the command-line tail; else the program's own name with ".upg";
// else "default.upg" beside the program; else none (the user is asked).
void ResolvePackagePath(const char* tail) {
    PackagePath[0] = '\0';
    if (tail != nullptr && tail[0] != '\0') {
        if (!PackagePathFromCommandLine(tail, PackagePath, sizeof PackagePath)) {
            PackagePathRefused = true;
            return;
        }
        if (PackagePath[0] != '\0') return;
    }
    char program[os::kMaxPath];
    const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    if (length == 0 || length >= sizeof program) return;
    if (PackageNamedLikeProgram(program, PackagePath, sizeof PackagePath) && IsExistingFile(PackagePath)) return;
    if (DefaultPackageBesideProgram(program, PackagePath, sizeof PackagePath) && IsExistingFile(PackagePath)) return;
    PackagePath[0] = '\0';
}

// A name or path as the message box shows it: as it is.
std::string AsItIs(const std::string& text) { return text; }

// What the commit phase could not do, file by file (the first few), and what the user can
// do about it.
std::string IncompleteReport(const std::vector<CommitFailure>& failures) {
    std::string text;
    for (const std::string& line : IncompleteCommitReport(failures, 10, AsItIs)) text += (text.empty() ? "" : "\n") + line;
    return text;
}

void ShowOutcome(HWND window, ApplyResult result, const ApplyReport& report) {
    switch (result) {
    case kApplyDone: MessageBoxA(window, kAppliedText, "All Finished", MB_OK | MB_ICONINFORMATION); break;
    case kApplyBusy: MessageBoxA(window, kBusyText, "Upgrade Aborted", MB_OK | MB_ICONINFORMATION); break;
    case kApplyIncomplete:
        MessageBoxA(window, IncompleteReport(report.commit_failures).c_str(), "Upgrade Incomplete",
                    MB_OK | MB_ICONWARNING);
        break;
    default: {
        // Nothing was changed; when no file or answer stopped the run, the user learns why.
        std::string text = kAbortedText;
        if (!report.failure.empty()) text += "\n\n" + RefusalText(report.failure);
        MessageBoxA(window, text.c_str(), "Upgrade Aborted", MB_OK | MB_ICONINFORMATION);
        break;
    }
    }
}

// The whole interaction, once: every way out ends here and the program quits after it.
void RunWizardFlow(HWND window) {
    if (PackagePath[0] == '\0' && !PackagePathRefused && !ChoosePackageFile(window)) return;
    if (PackagePathRefused || !ValidatePackage(PackagePath)) {
        MessageBoxA(window, "Upgrade is invalid!", "Error", MB_OK | MB_ICONERROR);
        return;
    }
    // The Windows folder is the target when the search finds nothing.
    const UINT length = GetWindowsDirectoryA(TargetFolder, sizeof TargetFolder);
    if (length == 0 || length >= sizeof TargetFolder) std::strcpy(TargetFolder, "C:\\");
    LocateInstalledTarget(PackagePath, TargetFolder, window);
    if (!RunPageSequence(window)) return;
    UpdateWindow(window);
    ApplyReport report;
    const ApplyResult result = ApplyUpgrade(PackagePath, TargetFolder, window, &report);
    ShowOutcome(window, result, report);
}

}  // namespace

HFONT CreateBannerFont(int kind) {
    const bool side = kind == 1;
    return CreateFontA(side ? -14 : -40, 0, side ? 900 : 0, side ? 900 : 0, side ? FW_NORMAL : FW_BOLD,
                       side ? FALSE : TRUE, FALSE, FALSE, ANSI_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS,
                       PROOF_QUALITY, FF_ROMAN | DEFAULT_PITCH, "Times New Roman");
}

void PaintBackdrop(HDC dc, const PAINTSTRUCT& paint) {
    // The screen's size, not the window's: the gradient is the same whatever the window.
    const int width = GetSystemMetrics(SM_CXSCREEN) + 1;
    const int height = GetSystemMetrics(SM_CYSCREEN) + 1;
    for (int k = 0; k < 256; k += 4) {
        const int y0 = MulDiv(height, k, 256);
        const int y1 = MulDiv(height, k + 4, 256);
        if (y1 < paint.rcPaint.top || y0 > paint.rcPaint.bottom) continue;
        UniqueGdiObject<HBRUSH> brush(CreateSolidBrush(RGB(0, 0, 255 - k)));
        SelectedObject selected(dc, brush.get());
        PatBlt(dc, 0, y0, width, y1 - y0, PATCOPY);
    }
    SetBkMode(dc, TRANSPARENT);
    SelectedObject font(dc, TitleFont);
    // The banner: white lettering with a black shadow 4 pixels right and down.
    const int shadow = 4;
    const int title_length = static_cast<int>(std::strlen(kWindowTitle));
    SIZE extent = {0, 0};
    GetTextExtentPoint32A(dc, kWindowTitle, title_length, &extent);
    const int x = (width - extent.cx) / 2 - shadow / 2;
    const int y = 20 - shadow / 2;
    SetTextColor(dc, RGB(0, 0, 0));
    TextOutA(dc, x + shadow, y + shadow, kWindowTitle, title_length);
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, x, y, kWindowTitle, title_length);
    // The side notices run upwards, each centred on the screen's height.
    SelectedObject side_font(dc, SideFont);
    for (int i = 0; i < 2; ++i) {
        const int notice_length = static_cast<int>(std::strlen(kSideNotices[i]));
        GetTextExtentPoint32A(dc, kSideNotices[i], notice_length, &extent);
        TextOutA(dc, kSideNoticeX[i], height - (height - extent.cx) / 2, kSideNotices[i], notice_length);
    }
}

int RunPageSequence(HWND owner) {
    int page = 1;
    while (page < 4) {
        INT_PTR result = IDC_NEXT;
        switch (page) {
        case 1: result = DialogBoxParamA(ModuleInstance, "CONFIRM1", owner, Confirm1, 0); break;
        case 2: result = DialogBoxParamA(ModuleInstance, "CONFIRM2", owner, Confirm2, 0); break;
        default:
            // Page 3 is shown only when the chosen folder fails the test, every time.
            if (!CheckTargetFolder(PackagePath, TargetFolder, owner)) {
                result = DialogBoxParamA(ModuleInstance, "CONFIRM3", owner, Confirm3, 0);
            }
            break;
        }
        if (result == IDC_BACK) {
            --page;
        } else if (result == IDC_NEXT) {
            ++page;
        } else {
            // Cancel, or a page that could not be shown: nothing is applied unconfirmed.
            return 0;
        }
    }
    return 1;
}

int ValidatePackage(const char* package_path) {
    std::unique_ptr<UpgradePackage> package = UpgradePackage::OpenHeader(package_path);
    return package && package->IsValid() ? 1 : 0;
}

ApplyResult ApplyUpgrade(const char* package_path, const char* target_folder, HWND owner,
                         ApplyReport* report) {
    std::unique_ptr<UpgradePackage> package = UpgradePackage::OpenFull(package_path, target_folder);
    if (!package || !package->IsValid()) return kApplyAborted;
    package->AttachMessages(MessageTable::LoadFromResource(ModuleInstance, os::ResourceName{IDR_MESSAGES, nullptr}));
    ProgressDialogFrontEnd progress(owner);
    const ApplyResult result = ApplyPackage(*package, &progress);
    if (report != nullptr) {
        report->commit_failures = package->commit_failures;
        report->failure = package->apply_failure;
    }
    return result;
}

AMBREL_EXPORT LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_PAINT: {
        PaintScope paint(window);
        PaintBackdrop(paint.dc(), paint.paint());
        return 0;
    }
    case WM_COMMAND: {
        static bool flow_started = false;  // the flow runs once, whatever else arrives
        if (!flow_started) {
            flow_started = true;
            RunWizardFlow(window);
            PostQuitMessage(0);
        }
        return 0;
    }
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(window, message, wparam, lparam);
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
    ModuleInstance = instance;
    UniqueGdiObject<HFONT> title_font(CreateBannerFont(0));
    UniqueGdiObject<HFONT> side_font(CreateBannerFont(1));
    TitleFont = title_font.get();
    SideFont = side_font.get();
    ResolvePackagePath(command_line);
    UniqueGdiObject<HBITMAP> picture(LoadBitmapA(instance, "WIZARDBMP"));
    WizardPicture = picture.get();
    UniqueGdiObject<HBRUSH> background(CreateSolidBrush(RGB(0, 0, 255)));

    WNDCLASSA window_class;
    std::memset(&window_class, 0, sizeof window_class);
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = WndProc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PROGRAM));
    window_class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    window_class.hbrBackground = background.get();
    window_class.lpszClassName = kWindowClass;
    if (!RegisterClassA(&window_class)) return 0;

    HWND window = CreateWindowExA(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 0;
    ShowWindow(window, SW_SHOWMAXIMIZED);
    UpdateWindow(window);
    PostMessageA(window, WM_COMMAND, IDM_START_FLOW, 0);

    MSG message = {};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    DestroyWindow(window);
    UnregisterClassA(kWindowClass, instance);
    return static_cast<int>(message.wParam);
}
