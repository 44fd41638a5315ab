// Reads the controls of a window from outside, as a screen reader does: through MSAA.
//   accessible_names.exe <window handle in decimal> <output file>
// Writes, in UTF-16, one line per child in the window's order: "<control id>\t<name>", with
// "-" for a control without a name.
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3) return 2;
    const auto window = reinterpret_cast<HWND>(static_cast<INT_PTR>(std::strtoll(argv[1], nullptr, 10)));
    FILE* out = std::fopen(argv[2], "wb");
    if (!out) return 3;
    CoInitialize(nullptr);
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        std::wstring line = std::to_wstring(GetDlgCtrlID(child)) + L"\t";
        IAccessible* accessible = nullptr;
        BSTR name = nullptr;
        VARIANT self{};
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        if (SUCCEEDED(AccessibleObjectFromWindow(child, OBJID_CLIENT, __uuidof(IAccessible),
                                                 reinterpret_cast<void**>(&accessible)))) {
            if (accessible->get_accName(self, &name) != S_OK) name = nullptr;
            accessible->Release();
        }
        line += name && *name ? name : L"-";
        line += L"\n";
        SysFreeString(name);
        std::fwrite(line.data(), sizeof(wchar_t), line.size(), out);
    }
    CoUninitialize();
    return std::fclose(out) == 0 ? 0 : 4;
}
