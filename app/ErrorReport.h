// How failures are shown to the user.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/Errors.h"

inline constexpr char kErrorCaption[] = "ATENCION";
inline constexpr UINT kErrorBoxFlags = MB_OK | MB_ICONHAND;  // 16
inline constexpr char kApplicationName[] = "Notelia 2.5";

// The code's text in the "ATENCION" box; `owner` may be null.
void ReportErrorCode(HWND owner, long code);

// A text in the "ATENCION" box.
void ReportErrorText(HWND owner, const std::string& text);

// The standard error report of a system failure: its text in a plain OK box captioned with
// the program's name.
void ReportSystemError(HWND owner, const CSystemException& error);

// Inside a catch block: shows the failure being handled as the user is told of it (an error
// code, a system failure, or memory exhaustion as code -1002); anything else is rethrown.
void ReportCaughtError(HWND owner);

// A message box that a worker thread keeps for the user-interface thread to show.
struct DeferredBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT flags;
};

// While one lives, the reports of its thread are kept in `boxes` instead of being shown, so
// that a worker never blocks on the user and its boxes keep their texts, flags and order.
class CReportCollector {
public:
    CReportCollector() noexcept;
    ~CReportCollector();
    CReportCollector(const CReportCollector&) = delete;
    CReportCollector& operator=(const CReportCollector&) = delete;

    std::vector<DeferredBox> boxes;

private:
    CReportCollector* m_pPrevious;
};
