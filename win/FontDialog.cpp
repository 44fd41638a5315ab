#include "win/FontDialog.h"

#include <utility>

namespace {
FontDialogHandler& Handler()
{
    static FontDialogHandler handler;
    return handler;
}
} // namespace

bool ShowFontDialog(CHOOSEFONTW& choice)
{
    if (Handler()) return Handler()(choice);
    return ChooseFontW(&choice) != FALSE;
}

FontDialogHandler SetFontDialogHandler(FontDialogHandler handler)
{
    return std::exchange(Handler(), std::move(handler));
}
