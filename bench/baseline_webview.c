/* Start-up baseline: a GTK3 program that creates an unloaded web view
 * off-screen (a GtkLayout child at x 448, so the window stays 400x300) and
 * then maps its 400x300 borderless window. Autoplay is allowed, as in the
 * player. With an address argument the view loads it after mapping (used
 * by the harness self-test to check the loopback site with the real engine).
 * Esc quits. */
#include <stdio.h>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

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
    fprintf(stderr, "zorva_baseline_webview: cannot open the display\n");
    return 1;
  }
  GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "zorva baseline webview");
  gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(window), 400, 300);
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  g_signal_connect(window, "key-press-event", G_CALLBACK(on_key), NULL);

  GtkWidget *layout = gtk_layout_new(NULL, NULL);
  gtk_widget_set_size_request(layout, 400, 300);
  gtk_container_add(GTK_CONTAINER(window), layout);

  WebKitWebsitePolicies *policies = webkit_website_policies_new_with_policies(
      "autoplay", WEBKIT_AUTOPLAY_ALLOW, NULL);
  GtkWidget *view = GTK_WIDGET(
      g_object_new(WEBKIT_TYPE_WEB_VIEW, "website-policies", policies, NULL));
  g_object_unref(policies);
  gtk_widget_set_size_request(view, 400, 300);
  gtk_layout_put(GTK_LAYOUT(layout), view, 448, 0);

  gtk_widget_show_all(window);
  if (argc > 1) {
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
  }
  gtk_main();
  return 0;
}
