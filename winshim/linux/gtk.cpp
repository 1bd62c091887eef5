// The GTK 3 back end: each top-level window is a GtkWindow holding a GtkFixed, on which the
// controls lie where the dialog manager placed them. Buttons and progress bars are GTK's own
// widgets; Static controls and the dialog's background are painted by their window procedures
// (WM_PAINT), with the brushes and colours that WM_CTLCOLOR... gives.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <map>
#include <string>

#include <gtk/gtk.h>

#include "backend.h"
#include "gui.h"
#include "text.h"

namespace winshim {

namespace {

bool ClassIs(const Window& w, std::u16string_view name)
{
    if (w.className.size() != name.size())
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        char16_t a = w.className[i], b = name[i];
        if (a >= u'A' && a <= u'Z')
            a = static_cast<char16_t>(a - u'A' + u'a');
        if (b >= u'A' && b <= u'Z')
            b = static_cast<char16_t>(b - u'A' + u'a');
        if (a != b)
            return false;
    }
    return true;
}

// "&Cancel" becomes "_Cancel", "&&" "&", and a "_" of the text stays a "_".
std::string Mnemonic(std::u16string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size() && text[i + 1] == u'&') {
            out += '&';
            ++i;
        } else if (text[i] == u'&') {
            out += '_';
        } else if (text[i] == u'_') {
            out += "__";
        } else {
            out += ToUtf8(text.substr(i, 1));
        }
    }
    return out;
}

void ApplyCss(GtkWidget* widget, const std::string& css)
{
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

std::string FontCss(HFONT font)
{
    FontSpec spec = DefaultGuiFont();
    FindFont(font, &spec);
    return "font-family: " + spec.family + "; font-size: " + std::to_string(spec.pixelHeight) + "px;";
}

GdkPixbuf* PixbufOf(const IconImage& image)
{
    return gdk_pixbuf_get_from_surface(image.surface, 0, 0, image.width, image.height);
}

class Gtk : public UiBackend {
public:
    const char* Name() const override { return "gtk"; }

    int MessageBox(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) override
    {
        GtkWindow* parent = nullptr;
        if (Window* w = FindWindowObject(owner); w && w->peer && !(w->style & WS_CHILD))
            parent = GTK_WINDOW(w->peer);
        GtkMessageType kind = GTK_MESSAGE_OTHER;
        switch (type & MB_ICONMASK) {
        case MB_ICONHAND: kind = GTK_MESSAGE_ERROR; break;
        case MB_ICONQUESTION: kind = GTK_MESSAGE_QUESTION; break;
        case MB_ICONEXCLAMATION: kind = GTK_MESSAGE_WARNING; break;
        case MB_ICONASTERISK: kind = GTK_MESSAGE_INFO; break;
        }
        std::string message = ToUtf8(text);
        GtkWidget* dialog =
            gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, kind, GTK_BUTTONS_NONE, "%s", message.c_str());
        gtk_window_set_title(GTK_WINDOW(dialog), ToUtf8(caption).c_str());
        gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
        if (!parent)
            gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
        for (const MessageBoxButton& b : MessageBoxButtons(type))
            gtk_dialog_add_button(GTK_DIALOG(dialog), b.label, b.id);
        gtk_dialog_set_default_response(GTK_DIALOG(dialog), MessageBoxDefaultButton(type));
        int answer = 0;
        while (answer <= 0) {
            // gtk_dialog_run's nested loop runs GLib's main context, so posted messages go on.
            int response = gtk_dialog_run(GTK_DIALOG(dialog));
            answer = response > 0 ? response : MessageBoxCloseAnswer(type);
        }
        gtk_widget_destroy(dialog);
        return answer;
    }

    void WindowCreated(HWND hwnd) override
    {
        Window* w = FindWindowObject(hwnd);
        if (!(w->style & WS_CHILD))
            CreateTopLevel(*w);
        else
            CreateControl(*w);
    }

    void WindowDestroyed(HWND hwnd) override
    {
        Window* w = FindWindowObject(hwnd);
        if (!w || !w->peer)
            return;
        GtkWidget* widget = GTK_WIDGET(w->peer);
        w->peer = nullptr;
        g_signal_handlers_disconnect_matched(widget, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, hwnd);
        if (GtkWidget* fixed = GTK_WIDGET(g_object_get_data(G_OBJECT(widget), "winshim-fixed")))
            g_signal_handlers_disconnect_matched(fixed, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, hwnd);
        gtk_widget_destroy(widget);
    }

    void WindowChanged(HWND hwnd, WindowChange change) override
    {
        Window* w = FindWindowObject(hwnd);
        if (!w || !w->peer)
            return;
        GtkWidget* widget = GTK_WIDGET(w->peer);
        bool topLevel = !(w->style & WS_CHILD);
        switch (change) {
        case WindowChange::Visibility:
            if (!topLevel) {
                gtk_widget_set_visible(widget, w->visible);
            } else if (!w->visible) {
                gtk_widget_hide(widget);
            } else {
                gtk_window_move(GTK_WINDOW(widget), w->rect.left, w->rect.top);
                gtk_widget_show(widget);
                if (w->iconic)
                    gtk_window_iconify(GTK_WINDOW(widget));
                else
                    gtk_window_deiconify(GTK_WINDOW(widget));
            }
            break;
        case WindowChange::Text:
            if (topLevel)
                gtk_window_set_title(GTK_WINDOW(widget), ToUtf8(w->text).c_str());
            else if (GTK_IS_BUTTON(widget))
                gtk_button_set_label(GTK_BUTTON(widget), Mnemonic(w->text).c_str());
            else
                gtk_widget_queue_draw(widget);
            break;
        case WindowChange::Position:
            Place(*w);
            break;
        case WindowChange::Icon:
            if (topLevel)
                SetIcons(*w);
            break;
        case WindowChange::Enabled:
            // A disabled top-level window refuses its close button; GTK's modal boxes keep the rest.
            if (!topLevel)
                gtk_widget_set_sensitive(widget, w->enabled);
            break;
        case WindowChange::Focus:
            if (!topLevel && gtk_widget_get_can_focus(widget))
                gtk_widget_grab_focus(widget);
            break;
        case WindowChange::Invalidated:
            if (GTK_IS_PROGRESS_BAR(widget))
                ShowProgress(hwnd, GTK_PROGRESS_BAR(widget));
            else
                gtk_widget_queue_draw(widget);
            break;
        }
    }

    cairo_t* PaintTarget(HWND hwnd) override
    {
        auto it = m_painting.find(hwnd);
        return it == m_painting.end() ? nullptr : it->second;
    }

    void PaintNow(HWND hwnd) override
    {
        Window* w = FindWindowObject(hwnd);
        GtkWidget* widget = w && w->peer ? GTK_WIDGET(w->peer) : nullptr;
        if (!widget || !GTK_IS_DRAWING_AREA(widget) || !gtk_widget_is_drawable(widget))
            return; // drawn at the display's next frame, as queued
        GdkWindow* window = gtk_widget_get_window(widget);
        GtkAllocation area;
        gtk_widget_get_allocation(widget, &area);
        GdkRectangle bounds = {0, 0, area.width, area.height};
        if (!gtk_widget_get_has_window(widget)) {
            bounds.x = area.x;
            bounds.y = area.y;
        }
        cairo_region_t* region = cairo_region_create_rectangle(&bounds);
        GdkDrawingContext* context = gdk_window_begin_draw_frame(window, region);
        cairo_t* cr = gdk_drawing_context_get_cairo_context(context);
        cairo_translate(cr, bounds.x, bounds.y);
        Paint(hwnd, cr);
        gdk_window_end_draw_frame(window, context);
        cairo_region_destroy(region);
        gdk_display_flush(gtk_widget_get_display(widget));
    }

    SIZE ScreenSize() override
    {
        GdkDisplay* display = gdk_display_get_default();
        GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
        if (!monitor && display)
            monitor = gdk_display_get_monitor(display, 0);
        if (!monitor)
            return UiBackend::ScreenSize();
        GdkRectangle area;
        gdk_monitor_get_geometry(monitor, &area);
        return {area.width, area.height};
    }

private:
    void CreateTopLevel(Window& w)
    {
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(window), ToUtf8(w.text).c_str());
        gtk_window_set_resizable(GTK_WINDOW(window), (w.style & WS_THICKFRAME) != 0);
        gtk_window_set_deletable(GTK_WINDOW(window), (w.style & WS_SYSMENU) != 0);
        gtk_window_set_type_hint(GTK_WINDOW(window),
                                 (w.exStyle & WS_EX_APPWINDOW) || !w.parent ? GDK_WINDOW_TYPE_HINT_NORMAL
                                                                            : GDK_WINDOW_TYPE_HINT_DIALOG);
        gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window), w.parent && !(w.exStyle & WS_EX_APPWINDOW));
        if (Window* owner = FindWindowObject(w.parent); owner && owner->peer)
            gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(owner->peer));
        GtkWidget* fixed = gtk_fixed_new();
        gtk_container_add(GTK_CONTAINER(window), fixed);
        gtk_widget_show(fixed);
        g_object_set_data(G_OBJECT(window), "winshim-fixed", fixed);
        g_signal_connect(fixed, "draw", G_CALLBACK(&Gtk::OnDrawBackground), w.handle);
        g_signal_connect(window, "delete-event", G_CALLBACK(&Gtk::OnDelete), w.handle);
        g_signal_connect(window, "key-press-event", G_CALLBACK(&Gtk::OnKey), w.handle);
        g_signal_connect(window, "window-state-event", G_CALLBACK(&Gtk::OnWindowState), w.handle);
        w.peer = window;
        Place(w);
    }

    void CreateControl(Window& w)
    {
        Window* parent = FindWindowObject(w.parent);
        GtkWidget* fixed = parent && parent->peer
                               ? GTK_WIDGET(g_object_get_data(G_OBJECT(parent->peer), "winshim-fixed"))
                               : nullptr;
        if (!fixed)
            return; // a control of a control: painted by its parent, if at all
        GtkWidget* widget;
        if (ClassIs(w, u"Button")) {
            widget = gtk_button_new_with_mnemonic(Mnemonic(w.text).c_str());
            gtk_widget_set_can_focus(widget, (w.style & WS_TABSTOP) != 0);
            g_signal_connect(widget, "clicked", G_CALLBACK(&Gtk::OnClicked), w.handle);
            ApplyCss(widget, "button { padding: 0px 4px; min-height: 0px; min-width: 0px; " +
                                 FontCss(parent->font) + " }");
        } else if (ClassIs(w, PROGRESS_CLASSW)) {
            widget = gtk_progress_bar_new();
            int height = w.rect.bottom - w.rect.top;
            ApplyCss(widget, "progressbar trough, progressbar progress { min-height: " +
                                 std::to_string(height > 2 ? height - 2 : height) + "px; }");
        } else {
            widget = gtk_drawing_area_new();
            g_signal_connect(widget, "draw", G_CALLBACK(&Gtk::OnDrawControl), w.handle);
        }
        w.peer = widget;
        gtk_fixed_put(GTK_FIXED(fixed), widget, w.rect.left, w.rect.top);
        gtk_widget_set_size_request(widget, w.rect.right - w.rect.left, w.rect.bottom - w.rect.top);
        gtk_widget_set_sensitive(widget, w.enabled);
        gtk_widget_set_visible(widget, (w.style & WS_VISIBLE) != 0);
        if (GTK_IS_PROGRESS_BAR(widget))
            ShowProgress(w.handle, GTK_PROGRESS_BAR(widget));
    }

    static void Place(const Window& w)
    {
        GtkWidget* widget = GTK_WIDGET(w.peer);
        int width = w.rect.right - w.rect.left, height = w.rect.bottom - w.rect.top;
        if (!(w.style & WS_CHILD)) {
            GtkWidget* fixed = GTK_WIDGET(g_object_get_data(G_OBJECT(widget), "winshim-fixed"));
            gtk_widget_set_size_request(fixed, width, height);
            gtk_window_resize(GTK_WINDOW(widget), width > 0 ? width : 1, height > 0 ? height : 1);
            gtk_window_move(GTK_WINDOW(widget), w.rect.left, w.rect.top);
        } else if (GtkWidget* fixed = gtk_widget_get_parent(widget)) {
            gtk_fixed_move(GTK_FIXED(fixed), widget, w.rect.left, w.rect.top);
            gtk_widget_set_size_request(widget, width, height);
        }
    }

    static void SetIcons(const Window& w)
    {
        GList* pixbufs = nullptr;
        for (HICON handle : {w.bigIcon, w.smallIcon}) {
            const Icon* icon = FindIcon(handle);
            if (!icon || (handle == w.smallIcon && handle == w.bigIcon && pixbufs))
                continue;
            for (const IconImage& image : icon->images)
                pixbufs = g_list_append(pixbufs, PixbufOf(image));
        }
        gtk_window_set_icon_list(GTK_WINDOW(w.peer), pixbufs);
        g_list_free_full(pixbufs, g_object_unref);
    }

    static void ShowProgress(HWND hwnd, GtkProgressBar* bar)
    {
        PBRANGE range = {};
        SendMessageW(hwnd, PBM_GETRANGE, 0, reinterpret_cast<LPARAM>(&range));
        LRESULT pos = SendMessageW(hwnd, PBM_GETPOS, 0, 0);
        double span = range.iHigh - range.iLow;
        gtk_progress_bar_set_fraction(bar, span > 0 ? (pos - range.iLow) / span : 0.0);
    }

    void Paint(HWND hwnd, cairo_t* cr)
    {
        m_painting[hwnd] = cr;
        SendMessageW(hwnd, WM_PAINT, 0, 0);
        m_painting.erase(hwnd);
    }

    static gboolean OnDrawBackground(GtkWidget*, cairo_t* cr, gpointer hwnd)
    {
        static_cast<Gtk*>(GtkBackend())->Paint(static_cast<HWND>(hwnd), cr);
        return FALSE; // the controls are drawn next
    }

    static gboolean OnDrawControl(GtkWidget*, cairo_t* cr, gpointer hwnd)
    {
        static_cast<Gtk*>(GtkBackend())->Paint(static_cast<HWND>(hwnd), cr);
        return TRUE;
    }

    static void OnClicked(GtkButton*, gpointer hwnd)
    {
        SendMessageW(static_cast<HWND>(hwnd), BM_CLICK, 0, 0);
    }

    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data)
    {
        HWND hwnd = static_cast<HWND>(data);
        if (IsWindowEnabled(hwnd))
            SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        return TRUE; // the window's procedure decides whether it goes away
    }

    static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data)
    {
        HWND hwnd = static_cast<HWND>(data);
        if (event->keyval != GDK_KEY_Escape || !IsWindowEnabled(hwnd))
            return FALSE; // Enter and Space reach the focused button as GTK delivers them
        MSG msg = {GetFocus() ? GetFocus() : hwnd, WM_KEYDOWN, VK_ESCAPE, 0, 0, {0, 0}};
        return IsDialogMessageW(hwnd, &msg);
    }

    static gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer data)
    {
        if (Window* w = FindWindowObject(static_cast<HWND>(data)))
            w->iconic = (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
        return FALSE;
    }

    std::map<HWND, cairo_t*> m_painting;
};

} // namespace

UiBackend* GtkBackend()
{
    static Gtk* backend = []() -> Gtk* {
        if (!gtk_init_check(nullptr, nullptr))
            return nullptr;
        return new Gtk;
    }();
    return backend;
}

} // namespace winshim
