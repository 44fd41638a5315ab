#include "app/ErrorReport.h"

#include <new>

#include "app/ErrorText.h"
#include "win/MessageBox.h"

void ReportErrorCode(HWND owner, long code)
{
    ReportErrorText(owner, CErrorText().Text(code));
}

void ReportErrorText(HWND owner, const std::string& text)
{
    ShowMessageBox(owner, text, kErrorCaption, kErrorBoxFlags);
}

void ReportSystemError(HWND owner, const CSystemException& error)
{
    ShowMessageBox(owner, error.GetErrorMessage(), kApplicationName, MB_OK | MB_ICONEXCLAMATION);
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
