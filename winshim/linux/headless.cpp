// The headless back end: no display; message boxes are written to standard error and answered
// by a handler that a test installs, or from WINSHIM_MSGBOX_REPLIES, one answer per box.
#include <windows.h>
#include <winshim_ext.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <sstream>

#include "backend.h"
#include "text.h"

namespace winshim {

namespace {

const char* IconName(UINT type)
{
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND: return "error";
    case MB_ICONQUESTION: return "question";
    case MB_ICONEXCLAMATION: return "warning";
    case MB_ICONASTERISK: return "information";
    default: return "none";
    }
}

class Headless : public UiBackend {
public:
    int MessageBox(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) override
    {
        std::vector<MessageBoxButton> buttons = MessageBoxButtons(type);
        std::string list;
        for (const MessageBoxButton& b : buttons)
            list += (list.empty() ? "" : ",") + std::string(b.name);
        std::fprintf(stderr, "[message box] %s | %s | icon %s | buttons %s\n", ToUtf8(caption).c_str(),
                     ToUtf8(text).c_str(), IconName(type), list.c_str());

        std::lock_guard lock(m_mutex);
        if (m_handler) {
            std::u16string t(text), c(caption);
            return m_handler(m_context, owner, t.c_str(), c.c_str(), type);
        }
        LoadReplies();
        int fallback = MessageBoxDefaultButton(type);
        if (m_replies.empty()) {
            std::fprintf(stderr, "[message box] no reply left: default button %s\n", NameOf(buttons, fallback));
            return fallback;
        }
        std::string reply = m_replies.front();
        m_replies.pop_front();
        for (const MessageBoxButton& b : buttons)
            if (reply == b.name) {
                std::fprintf(stderr, "[message box] answered %s\n", b.name);
                return b.id;
            }
        std::fprintf(stderr, "[message box] reply %s is not a button of this box: default button %s\n",
                     reply.c_str(), NameOf(buttons, fallback));
        return fallback;
    }

    void SetHandler(WINSHIM_MSGBOX_HANDLER handler, void* context)
    {
        std::lock_guard lock(m_mutex);
        m_handler = handler;
        m_context = context;
    }

private:
    static const char* NameOf(const std::vector<MessageBoxButton>& buttons, int id)
    {
        for (const MessageBoxButton& b : buttons)
            if (b.id == id)
                return b.name;
        return "?";
    }

    void LoadReplies()
    {
        if (m_repliesLoaded)
            return;
        m_repliesLoaded = true;
        const char* env = std::getenv("WINSHIM_MSGBOX_REPLIES");
        std::istringstream in(env ? env : "");
        for (std::string item; std::getline(in, item, ',');)
            if (!item.empty())
                m_replies.push_back(item);
    }

    std::mutex m_mutex;
    WINSHIM_MSGBOX_HANDLER m_handler = nullptr;
    void* m_context = nullptr;
    bool m_repliesLoaded = false;
    std::deque<std::string> m_replies;
};

Headless& TheHeadless()
{
    static Headless headless;
    return headless;
}

} // namespace

UiBackend& HeadlessBackend()
{
    return TheHeadless();
}

} // namespace winshim

void WINAPI WinshimSetMessageBoxHandler(WINSHIM_MSGBOX_HANDLER handler, void* context)
{
    winshim::TheHeadless().SetHandler(handler, context);
}
