// The About box (dialog resource 100): no data or handlers of its own.
#pragma once

#include "win/Dialog.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();

    // Runs the box modally with the program's main window (CWindow::MainWindow) as parent.
    INT_PTR DoModal();
};
