#include "app/ErrorReport.h"

#include <new>

#include "app/ErrorText.h"
#include "win/MessageBox.h"

namespace {

thread_local CReportCollector* t_pCollector = nullptr;

void Show(HWND owner, const std::string& text, const char* caption, UINT flags)
{
    if (t_pCollector)
        t_pCollector->boxes.push_back({owner, text, caption, flags});
    else
        ShowMessageBox(owner, text, caption, flags);
}

} // namespace

CReportCollector::CReportCollector() noexcept : m_pPrevious(t_pCollector)
{
    t_pCollector = this;
}

CReportCollector::~CReportCollector()
{
    t_pCollector = m_pPrevious;
}

void ReportErrorCode(HWND owner, long code)
{
    ReportErrorText(owner, CErrorText().Text(code));
}

void ReportErrorText(HWND owner, const std::string& text)
{
    Show(owner, text, kErrorCaption, kErrorBoxFlags);
}

void ReportSystemError(HWND owner, const CSystemException& error)
{
    Show(owner, error.GetErrorMessage(), kApplicationName, MB_OK | MB_ICONEXCLAMATION);
}

void ReportCaughtError(HWND owner)
{
    try {
        throw;
    } catch (const CCodeException& error) {
        ReportErrorCode(owner, error.Code());
    } catch (const CSystemException& error) {
        ReportSystemError(owner, error);
    } catch (const std::bad_alloc&) {
        ReportErrorCode(owner, ERR_NO_MEMORY);
    }
}
