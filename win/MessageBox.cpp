#include "win/MessageBox.h"

#include <utility>

#include "win/TextCodec.h"

namespace {
MessageBoxHandler& Handler()
{
    static MessageBoxHandler handler;
    return handler;
}
} // namespace

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT flags)
{
    if (Handler()) return Handler()(owner, text, caption, flags);
    return MessageBoxW(owner, WidenCp1252(text).c_str(), WidenCp1252(caption).c_str(), flags);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    return std::exchange(Handler(), std::move(handler));
}
