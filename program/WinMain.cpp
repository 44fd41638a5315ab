#include <windows.h>

#include "program/NoteliaApp.h"

// The one application object of the process.
static CNoteliaApp theApp;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return theApp.Run();
}
