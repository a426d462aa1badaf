#pragma once
// Modal reports of the application: the standard exception report and plain
// message boxes. With a display they are message boxes; without one (or on
// Qt's offscreen platform) the text goes to stderr. A hook replaces both,
// for tests and for programs that show errors their own way.
#include "win32types.h"
#include "zqui_export.h"

#include <functional>
#include <string>

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONWARNING = 0x00000030;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr int IDOK = 1;

namespace zq::ui {

struct ErrorReport {
    std::string caption;
    std::string text;
    UINT flags = 0;
};
using ErrorReportHook = std::function<void(const ErrorReport&)>;
// Installs a hook (an empty one removes it); returns the previous one.
ZQUI_EXPORT ErrorReportHook SetErrorReportHook(ErrorReportHook hook);

// The application's standard exception report: caption "Application Error",
// stop icon, modal.
ZQUI_EXPORT void ShowApplicationError(const std::string& text);

} // namespace zq::ui

ZQUI_EXPORT int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT flags);
// The active top-level window, owner of the library's boxes and dialogs; null
// when the program shows none.
ZQUI_EXPORT HWND GetForegroundWindow();
