#include "app/ErrorReport.h"

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
