// The headless back end: no display. Message boxes are written to standard error and answered
// by a handler that a test installs, or from WINSHIM_MSGBOX_REPLIES, one answer per box; while a
// box waits for its answer its message loop keeps running. SIGINT acts as the close button of the
// dialog that is shown.
#include <windows.h>
#include <winshim_ext.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <sstream>

#include <glib-unix.h>
#include <glib.h>

#include "backend.h"
#include "gui.h"
#include "text.h"

namespace winshim {

namespace {

class Headless : public UiBackend {
public:
    const char* Name() const override { return "headless"; }

    int MessageBox(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) override
    {
        std::vector<MessageBoxButton> buttons = MessageBoxButtons(type);
        std::string list;
        for (const MessageBoxButton& b : buttons)
            list += (list.empty() ? "" : ",") + std::string(b.name);
        std::fprintf(stderr, "[message box] %s | %s | icon %s | buttons %s\n", ToUtf8(caption).c_str(),
                     ToUtf8(text).c_str(), MessageBoxIconName(type), list.c_str());

        Pending box{this, owner, std::u16string(text), std::u16string(caption), type};
        // Messages already posted are dispatched before the first answer is asked for, as they
        // would be while a person reads the box.
        g_idle_add_full(G_PRIORITY_LOW, &Headless::AskOnce, &box, nullptr);
        RunMessageLoop(&box.answered);
        return box.answer;
    }

    void WindowChanged(HWND hwnd, WindowChange change) override
    {
        // What a person would see: the texts of the controls, and a window that appears or goes.
        Window* w = FindWindowObject(hwnd);
        if (!w)
            return;
        bool topLevel = !(w->style & WS_CHILD);
        if (change == WindowChange::Text && !topLevel)
            std::fprintf(stderr, "[window %ld] %s\n", static_cast<long>(w->id), ToUtf8(w->text).c_str());
        if (change != WindowChange::Visibility || !topLevel)
            return;
        // Ctrl-C is the close button from the moment a script can read that the window is shown.
        if (w->visible && !m_sigint)
            m_sigint = g_unix_signal_add(SIGINT, &Headless::OnSigint, this);
        UpdateSigintWatch();
        std::fprintf(stderr, "[window] %s: %s\n", w->visible ? "shown" : "hidden", ToUtf8(w->text).c_str());
    }

    void WindowDestroyed(HWND hwnd) override { UpdateSigintWatch(hwnd); }

    void SetHandler(WINSHIM_MSGBOX_HANDLER handler, void* context)
    {
        std::lock_guard lock(m_mutex);
        m_handler = handler;
        m_context = context;
    }

    bool HasHandler()
    {
        std::lock_guard lock(m_mutex);
        return m_handler != nullptr;
    }

private:
    struct Pending {
        Headless* self;
        HWND owner;
        std::u16string text;
        std::u16string caption;
        UINT type;
        bool answered = false;
        int answer = 0;
    };

    static gboolean AskOnce(gpointer data)
    {
        Pending* box = static_cast<Pending*>(data);
        int answer = box->self->Answer(*box);
        if (answer == 0)
            return G_SOURCE_CONTINUE; // a test holds the box open; ask again when the loop is idle
        box->answer = answer;
        box->answered = true;
        return G_SOURCE_REMOVE;
    }

    int Answer(const Pending& box)
    {
        WINSHIM_MSGBOX_HANDLER handler;
        void* context;
        {
            std::lock_guard lock(m_mutex);
            handler = m_handler;
            context = m_context;
        }
        if (handler)
            return handler(context, box.owner, box.text.c_str(), box.caption.c_str(), box.type);

        std::vector<MessageBoxButton> buttons = MessageBoxButtons(box.type);
        int fallback = MessageBoxDefaultButton(box.type);
        std::string reply;
        {
            std::lock_guard lock(m_mutex);
            LoadReplies();
            if (m_replies.empty()) {
                std::fprintf(stderr, "[message box] no reply left: default button %s\n", NameOf(buttons, fallback));
                return fallback;
            }
            reply = m_replies.front();
            m_replies.pop_front();
        }
        for (const MessageBoxButton& b : buttons)
            if (reply == b.name) {
                std::fprintf(stderr, "[message box] answered %s\n", b.name);
                return b.id;
            }
        std::fprintf(stderr, "[message box] reply %s is not a button of this box: default button %s\n",
                     reply.c_str(), NameOf(buttons, fallback));
        return fallback;
    }

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

    // The shown top-level window that SIGINT closes: the one shown last.
    static HWND SigintTarget(HWND excluded = nullptr)
    {
        HWND target = nullptr;
        for (HWND hwnd : TopLevelWindows()) {
            Window* w = FindWindowObject(hwnd);
            if (hwnd != excluded && w && w->visible)
                target = hwnd;
        }
        return target;
    }

    void UpdateSigintWatch(HWND excluded = nullptr)
    {
        if (m_sigint && !SigintTarget(excluded)) {
            g_source_remove(m_sigint);
            m_sigint = 0;
        }
    }

    static gboolean OnSigint(gpointer)
    {
        HWND target = SigintTarget();
        if (target && !IsWindowEnabled(target)) {
            std::fprintf(stderr, "[window] SIGINT: the window is waiting for a message box; ignored\n");
        } else if (target) {
            std::fprintf(stderr, "[window] SIGINT: the close button\n");
            PostMessageW(target, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        return G_SOURCE_CONTINUE;
    }

    std::mutex m_mutex;
    WINSHIM_MSGBOX_HANDLER m_handler = nullptr;
    void* m_context = nullptr;
    bool m_repliesLoaded = false;
    std::deque<std::string> m_replies;
    guint m_sigint = 0;
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

bool MessageBoxHandlerInstalled()
{
    return TheHeadless().HasHandler();
}

} // namespace winshim

void WINAPI WinshimSetMessageBoxHandler(WINSHIM_MSGBOX_HANDLER handler, void* context)
{
    winshim::TheHeadless().SetHandler(handler, context);
}
