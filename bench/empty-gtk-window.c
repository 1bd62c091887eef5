/* An empty GTK 3 window that closes itself after a moment: the baseline that bench/sorvane-rss.sh
 * reports beside sorvane's peak memory with its GTK window. */
#include <gtk/gtk.h>

static gboolean Quit(gpointer data)
{
    gtk_main_quit();
    return G_SOURCE_REMOVE;
}

int main(int argc, char** argv)
{
    gtk_init(&argc, &argv);
    gtk_widget_show(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    g_timeout_add(2000, Quit, NULL);
    gtk_main();
    return 0;
}
