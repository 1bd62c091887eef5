// Helpers for tests of windows and dialogs on winshim's headless back end: message boxes answered
// and recorded, winshim's trace recorded, and test code run inside a running message loop.
#pragma once

#include <windows.h>
#include <winshim_ext.h>

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include <glib.h>

namespace sorvane_test {

struct ShownMessageBox {
    HWND owner;
    std::u16string text;
    std::u16string caption;
    UINT type;
    bool ownerEnabled; // whether the owner took input while the box was open
};

// Answers every message box while it lives. The answerer sees each box (and is asked again while
// it returns 0, the box staying open); without one, the scripted answers are given in order and
// then the box's first button.
class MessageBoxRecorder {
public:
    MessageBoxRecorder() { WinshimSetMessageBoxHandler(&MessageBoxRecorder::Answer, this); }
    ~MessageBoxRecorder() { WinshimSetMessageBoxHandler(nullptr, nullptr); }
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    std::vector<ShownMessageBox> boxes;
    std::deque<int> answers;
    std::function<int(const ShownMessageBox&)> answerer;

private:
    static int Answer(void* context, HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
    {
        auto* self = static_cast<MessageBoxRecorder*>(context);
        ShownMessageBox box{owner, text, caption, type, owner && IsWindowEnabled(owner)};
        if (self->boxes.empty() || !self->pending)
            self->boxes.push_back(box);
        if (self->answerer) {
            int answer = self->answerer(box);
            self->pending = answer == 0;
            return answer;
        }
        if (self->answers.empty())
            return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : ((type & MB_TYPEMASK) == MB_RETRYCANCEL ? IDRETRY : IDOK);
        int answer = self->answers.front();
        self->answers.pop_front();
        return answer;
    }

    bool pending = false;
};

// Collects the lines of winshim's trace while it lives.
class TraceRecorder {
public:
    TraceRecorder() { WinshimSetTraceHandler(&TraceRecorder::Line, this); }
    ~TraceRecorder() { WinshimSetTraceHandler(nullptr, nullptr); }
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    std::vector<std::string> Lines()
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    bool Contains(const std::string& pattern)
    {
        std::regex re(pattern);
        for (const std::string& line : Lines())
            if (std::regex_search(line, re))
                return true;
        return false;
    }
    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_lines.clear();
    }

private:
    static void Line(void* context, const char* line)
    {
        auto* self = static_cast<TraceRecorder*>(context);
        std::lock_guard lock(self->m_mutex);
        self->m_lines.emplace_back(line);
    }

    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

// Runs fn once the thread's message loop is idle: inside a modal loop that is about to start.
inline void WhenIdle(std::function<void()> fn)
{
    auto* call = new std::function<void()>(std::move(fn));
    g_idle_add_full(
        G_PRIORITY_LOW,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        call, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

// Dispatches messages until done() holds; false when it did not within the time.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        g_main_context_iteration(nullptr, FALSE);
        g_usleep(200);
    }
    return true;
}

inline std::u16string WindowText(HWND hwnd)
{
    WCHAR text[1024] = {};
    GetWindowTextW(hwnd, text, 1024);
    return text;
}

} // namespace sorvane_test
