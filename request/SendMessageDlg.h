// "Enviar Mensaje" (dialog 138): the user's request to the help desk, sent as one mail. The
// SMTP session runs on a worker thread; the dialog stays responsive and can stop it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Identity.h"
#include "request/RecipientList.h"
#include "win/Dialog.h"

class CSendMessageDlg : public CDialog {
public:
    CSendMessageDlg();
    // Stops a session still running.
    ~CSendMessageDlg() override;

    // Set before the dialog runs: the recipient list text.
    std::string RecipientList;
    // The longest an SMTP session may last, in milliseconds, every wait included.
    unsigned SessionTimeout = 60000;

    bool IsSending() const noexcept { return m_worker.joinable(); }
    // The program or the Windows session is closing: stops a running session and ends the
    // dialog with IDCANCEL. Like every stop, it waits a few seconds at most for the worker.
    void Abandon();

protected:
    bool OnInitDialog() override;
    // Stops a running session and keeps the dialog open; else ends it.
    void OnCancel() override;
    bool OnCommand(UINT id, UINT notifyCode, HWND control) override;
    INT_PTR DialogProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    struct Session;

    void OnSend();
    void OnSessionEnded(WPARAM sessionNumber);
    void StopSession();
    void SetBusy(bool busy);
    std::string ControlText(int id) const;

    std::vector<RecipientEntry> m_entries;
    InstallationIdentity m_identity;
    bool m_bIdentityObtained = false;
    std::shared_ptr<Session> m_session;
    std::thread m_worker;
    WPARAM m_nSessionNumber = 0;
};
