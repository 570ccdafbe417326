/* Start-up baseline: a bare GTK3 program mapping a 400x300 borderless
 * window centred on the screen. Esc quits. */
#include <stdio.h>

#include <gtk/gtk.h>

static gboolean on_key(GtkWidget *widget, GdkEventKey *event, gpointer data) {
  (void)widget;
  (void)data;
  if (event->keyval == GDK_KEY_Escape) {
    gtk_main_quit();
    return TRUE;
  }
  return FALSE;
}

int main(int argc, char **argv) {
  if (!gtk_init_check(&argc, &argv)) {
    fprintf(stderr, "zorva_baseline_gtk: cannot open the display\n");
    return 1;
  }
  GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "zorva baseline gtk");
  gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(window), 400, 300);
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  g_signal_connect(window, "key-press-event", G_CALLBACK(on_key), NULL);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
