// Modal dialogs from resource templates. A dialog is data in, data out: public fields are set
// before DoModal, OnInitDialog puts them into the controls and OnOK reads them back.
#pragma once

#include <windows.h>

#include <functional>

class CDialog {
public:
    explicit CDialog(UINT templateId, HWND parent = nullptr) noexcept : m_nTemplateId(templateId), m_hParent(parent)
    {
    }
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;
    virtual ~CDialog();

    // Runs the dialog modally with Parent() as owner and answers the value it ended with (IDOK,
    // IDCANCEL, or -1 when it could not be shown). Goes through the modal dialog handler when
    // one is set.
    INT_PTR DoModal();

    // The real modal run over DialogBoxParamW, whatever handler is set.
    INT_PTR RunModal(HWND parent);

    // Ends a running dialog with `result`.
    void EndDialog(INT_PTR result);

    HWND Handle() const noexcept { return m_hWnd; }
    UINT TemplateId() const noexcept { return m_nTemplateId; }
    HWND Parent() const noexcept { return m_hParent; }
    void SetParent(HWND parent) noexcept { m_hParent = parent; }

    // A control of the running dialog.
    HWND Item(int id) const noexcept { return GetDlgItem(m_hWnd, id); }

    // For tests: `script` runs with the dialog window once the dialog is up and its modal loop
    // is running; it inspects the controls and ends the dialog by clicking a button (BM_CLICK)
    // or through EndDialog of this object. A dialog the script leaves open ends with IDABORT.
    INT_PTR RunModalWithScript(HWND parent, std::function<void(HWND dialog)> script);

protected:
    // Data in; answer false when focus was set here.
    virtual bool OnInitDialog();
    // Places the dialog in the middle of its owner, or of the screen when the owner is hidden.
    void CenterOverOwner();
    // Data out on IDOK. The default ends with IDOK; an override that finds bad data keeps the
    // dialog open by not ending it.
    virtual void OnOK();
    // IDCANCEL or the caption's close button; the default ends with IDCANCEL.
    virtual void OnCancel();
    // Any other command; true when handled.
    virtual bool OnCommand(UINT id, UINT notifyCode, HWND control);
    // Every message, before the handlers above; answers as a dialog procedure does (TRUE
    // handled). An override passes what it does not handle on to this one.
    virtual INT_PTR DialogProc(UINT msg, WPARAM wParam, LPARAM lParam);

private:
    static INT_PTR CALLBACK StaticDialogProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

    UINT m_nTemplateId;
    HWND m_hParent;
    HWND m_hWnd = nullptr;
    bool m_bEnded = false;
    std::function<void(HWND)> m_script;
};

using ModalDialogHandler = std::function<INT_PTR(CDialog& dialog, HWND parent)>;

// Replaces the real modal run of every CDialog::DoModal; an empty handler restores it.
// Answers the previous handler.
ModalDialogHandler SetModalDialogHandler(ModalDialogHandler handler);
