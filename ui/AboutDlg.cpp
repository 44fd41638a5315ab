#include "ui/AboutDlg.h"

#include "res/resource.h"
#include "win/Window.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX)
{
}

INT_PTR CAboutDlg::DoModal()
{
    SetParent(CWindow::MainWindow());
    return CDialog::DoModal();
}
