// The browser pane on WebKitGTK (webkit2gtk-4.1).
//
// The pane's control widget is the WebKitWebView itself: it realizes a GDK
// child window of its own (which GtkControl needs for placing, stacking and
// the pointer), paints white until a page does, shows the page's own
// pointers (the arrow over a plain page), and is the widget that receives
// the keyboard focus, so no wrapper stands between the control and the
// engine.
//
// Nothing here needs the view realized or mapped. WebKit loads and plays
// while the view lies unrealized in the hidden legend panel, off-screen, or
// in a hidden window; the page then reports itself hidden
// (document.visibilityState) and its media play all the same.
//
// Each pane has a web context of its own: its caches stay in the engine's
// default XDG directories, its web process runs sandboxed, and the page
// plays sound with no user action.

#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>

#include "player/browser_pane.h"
#include "toolkit/gtk_control.h"

namespace player {
namespace {

using toolkit::ControlDescription;
namespace setting = toolkit::browser_setting;

// FontSize 0 (smallest) to 4 (largest) as the engine's text zoom.
constexpr double kZoomLevels[] = {0.75, 0.9, 1.0, 1.1, 1.25};

// The page shown by "home": the engine has no home page of its own.
constexpr const char* kHomePage = "about:blank";

// While Offline, every connection goes to this proxy, which no one serves
// (port 0 is refused at once, on the loopback interface).
constexpr const char* kNowhere = "http://127.0.0.1:0";

// A web process that dies is replaced and the page reloaded, at most this
// many times within kRestartWindow; a page that keeps killing it stays dead
// until the next address is written.
constexpr std::size_t kMaxRestarts = 3;
constexpr gint64 kRestartWindow = 60 * G_USEC_PER_SEC;

class GtkBrowserPane final : public toolkit::gtk::GtkControl, public BrowserPane {
 public:
  GtkBrowserPane(WebKitWebView* view, const ControlDescription& description,
                 toolkit::NativeControl* window)
      : GtkControl(GTK_WIDGET(view), description, window), view_(view) {
    g_signal_connect(view_, "notify::uri", G_CALLBACK(OnUriChanged), this);
    g_signal_connect(view_, "web-process-terminated", G_CALLBACK(OnProcessTerminated), this);
    g_signal_connect(view_, "script-dialog", G_CALLBACK(OnScriptDialog), this);
    g_signal_connect(view_, "permission-request", G_CALLBACK(OnPermissionRequest), this);
    g_signal_connect(view_, "authenticate", G_CALLBACK(OnAuthenticate), this);
    g_signal_connect(view_, "run-file-chooser", G_CALLBACK(OnFileChooser), this);
    g_signal_connect(view_, "run-color-chooser", G_CALLBACK(OnColorChooser), this);
    g_signal_connect(view_, "show-option-menu", G_CALLBACK(OnOptionMenu), this);
    g_signal_connect(view_, "print", G_CALLBACK(OnPrint), this);
    g_signal_connect(view_, "context-menu", G_CALLBACK(OnContextMenu), this);
    g_signal_connect(view_, "create", G_CALLBACK(OnCreate), this);

    ApplyOffline(description.GetBool(setting::kOffline));
    silent_ = description.GetBool(setting::kSilent);
    ApplyFontSize(description.GetInt(setting::kFontSize));
    const std::string_view url = description.GetText(setting::kUrl);
    if (!url.empty()) Load(url);
  }

  ~GtkBrowserPane() override {
    if (restart_source_ != 0) g_source_remove(restart_source_);
    g_signal_handlers_disconnect_by_data(view_, this);
    if (page_setup_ != nullptr) g_object_unref(page_setup_);
    if (print_settings_ != nullptr) g_object_unref(print_settings_);
  }

  void PropertyWritten(const ControlDescription& control, int number) override {
    switch (number) {
      case setting::kFontSize:
        ApplyFontSize(control.GetInt(number));
        break;
      case setting::kOffline:
        ApplyOffline(control.GetBool(number));
        break;
      case setting::kSilent:
        silent_ = control.GetBool(number);
        break;
      case setting::kUrl:
        restarts_.clear();
        Load(control.GetText(number));
        break;
      default:
        GtkControl::PropertyWritten(control, number);
        break;
    }
  }

  void Command(std::int32_t code) override {
    switch (code) {
      case kGoForward:
        webkit_web_view_go_forward(view_);
        break;
      case kGoBack:
        webkit_web_view_go_back(view_);
        break;
      case kGoHome:
        webkit_web_view_load_uri(view_, kHomePage);
        break;
      case kGoSearch:
        // No search page is configured; leaving the page (and its music)
        // for a blank one would only surprise.
        break;
      case kRefresh:
        webkit_web_view_reload(view_);
        break;
      case kStop:
        webkit_web_view_stop_loading(view_);
        break;
      case kSaveAs:
      case kPrint:
      case kPrintPreview:
      case kPageSetup:
        // Each of these asks the user for a file, a printer or a page
        // format; a silent pane shows no dialogs, so it does nothing.
        if (!silent_ && HasDocument()) RunDocumentDialog(code);
        break;
      default:
        break;
    }
  }

 private:
  // Offline keeps the engine's full cache and sends every connection to a
  // proxy that refuses it. Pages and resources the cache holds as still
  // fresh come from it; anything else, and every reload (which asks the
  // network), fails as an unreachable site does. WebKitGTK has no load that
  // reads a stale cache entry instead, so this is less than a true
  // cache-only mode. Online uses the system's proxy settings (http_proxy
  // and the like), as the engine does by default. A change reaches the
  // engine's network process asynchronously, with no word back: a load
  // started in the same instant may still go the old way.
  void ApplyOffline(bool offline) {
    WebKitWebContext* context = webkit_web_view_get_context(view_);
    webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_WEB_BROWSER);
    if (offline == offline_) return;
    offline_ = offline;
    WebKitWebsiteDataManager* data = webkit_web_context_get_website_data_manager(context);
    if (offline) {
      WebKitNetworkProxySettings* nowhere = webkit_network_proxy_settings_new(kNowhere, nullptr);
      webkit_website_data_manager_set_network_proxy_settings(data, WEBKIT_NETWORK_PROXY_MODE_CUSTOM,
                                                             nowhere);
      webkit_network_proxy_settings_free(nowhere);
    } else {
      webkit_website_data_manager_set_network_proxy_settings(data, WEBKIT_NETWORK_PROXY_MODE_DEFAULT,
                                                             nullptr);
    }
  }

  void ApplyFontSize(std::int32_t size) {
    webkit_web_view_set_zoom_level(view_, kZoomLevels[std::clamp(size, 0, 4)]);
  }

  // Every address is handed to the engine as it is, the empty one too:
  // WebKit shows about:blank for "" and for a text it cannot parse. A
  // "javascript:" address runs its script in the page shown: loaded as an
  // address, it could swallow a load that follows it within half a second.
  void Load(std::string_view gbk) {
    const std::string url = toolkit::gtk::Utf8FromGbk(gbk);
    // The engine ignores spaces and control characters before an address.
    const char* start = url.c_str();
    while (*start != '\0' && static_cast<unsigned char>(*start) <= ' ') ++start;
    if (g_ascii_strncasecmp(start, "javascript:", 11) == 0) {
      gchar* script = g_uri_unescape_string(start + 11, nullptr);
      if (script != nullptr) {
        webkit_web_view_evaluate_javascript(view_, script, -1, nullptr, nullptr, nullptr, nullptr,
                                            nullptr);
        g_free(script);
      }
      return;
    }
    address_ = url;
    webkit_web_view_load_uri(view_, address_.c_str());
  }

  // A document is there to save or print once a page has finished loading.
  bool HasDocument() const {
    const gchar* uri = webkit_web_view_get_uri(view_);
    return uri != nullptr && *uri != '\0' && !webkit_web_view_is_loading(view_);
  }

  GtkWindow* DialogParent() const {
    GtkWidget* toplevel = gtk_widget_get_toplevel(GTK_WIDGET(view_));
    return GTK_IS_WINDOW(toplevel) ? GTK_WINDOW(toplevel) : nullptr;
  }

  void RunDocumentDialog(std::int32_t code) {
    if (code == kSaveAs) {
      SaveAs();
    } else if (code == kPageSetup) {
      GtkPageSetup* chosen =
          gtk_print_run_page_setup_dialog(DialogParent(), page_setup_, print_settings_);
      if (page_setup_ != nullptr) g_object_unref(page_setup_);
      page_setup_ = chosen;
    } else {
      // GTK's print dialog carries its own preview.
      WebKitPrintOperation* operation = webkit_print_operation_new(view_);
      if (page_setup_ != nullptr) webkit_print_operation_set_page_setup(operation, page_setup_);
      if (print_settings_ != nullptr) {
        webkit_print_operation_set_print_settings(operation, print_settings_);
      }
      // The settings chosen are kept for the next print.
      if (webkit_print_operation_run_dialog(operation, DialogParent()) ==
          WEBKIT_PRINT_OPERATION_RESPONSE_PRINT) {
        if (print_settings_ != nullptr) g_object_unref(print_settings_);
        print_settings_ = webkit_print_operation_get_print_settings(operation);
        g_object_ref(print_settings_);
      }
      g_object_unref(operation);
    }
  }

  // Saves the page as one MHTML file where the user chooses.
  void SaveAs() {
    GtkWidget* chooser =
        gtk_file_chooser_dialog_new("Save As", DialogParent(), GTK_FILE_CHOOSER_ACTION_SAVE, "_Cancel",
                                    GTK_RESPONSE_CANCEL, "_Save", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(chooser), TRUE);
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(chooser), "page.mht");
    if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
      GFile* file = gtk_file_chooser_get_file(GTK_FILE_CHOOSER(chooser));
      webkit_web_view_save_to_file(
          view_, file, WEBKIT_SAVE_MODE_MHTML, nullptr,
          +[](GObject* view, GAsyncResult* result, gpointer) {
            GError* error = nullptr;
            if (!webkit_web_view_save_to_file_finish(WEBKIT_WEB_VIEW(view), result, &error)) {
              std::fprintf(stderr, "zorva: the page was not saved: %s\n", error->message);
              g_error_free(error);
            }
          },
          nullptr);
      g_object_unref(file);
    }
    gtk_widget_destroy(chooser);
  }

  // ------------------------------------------------------------ web process

  // The address shown, kept for reloading after a crash: the view forgets
  // it when its web process dies.
  static void OnUriChanged(WebKitWebView* view, GParamSpec*, gpointer self) {
    const gchar* uri = webkit_web_view_get_uri(view);
    if (uri != nullptr && *uri != '\0') static_cast<GtkBrowserPane*>(self)->address_ = uri;
  }

  static void OnProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                  gpointer data) {
    auto* self = static_cast<GtkBrowserPane*>(data);
    if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API) return;
    const char* why = reason == WEBKIT_WEB_PROCESS_CRASHED ? "crashed" : "ran out of memory";
    const gint64 now = g_get_monotonic_time();
    auto& restarts = self->restarts_;
    while (!restarts.empty() && now - restarts.front() > kRestartWindow) restarts.pop_front();
    if (restarts.size() >= kMaxRestarts) {
      std::fprintf(stderr, "zorva: the web engine %s again; the page stays unloaded\n", why);
      return;
    }
    restarts.push_back(now);
    std::fprintf(stderr, "zorva: the web engine %s; reloading the page\n", why);
    // The new web process starts with the load, once this signal is over.
    if (self->restart_source_ == 0) self->restart_source_ = g_idle_add(Restart, self);
  }

  static gboolean Restart(gpointer data) {
    auto* self = static_cast<GtkBrowserPane*>(data);
    self->restart_source_ = 0;
    if (!self->address_.empty()) webkit_web_view_load_uri(self->view_, self->address_.c_str());
    return G_SOURCE_REMOVE;
  }

  // ------------------------------------------------------------ silence
  // A silent pane answers for the user whatever the engine would ask, and
  // opens no window, menu or dialog; otherwise the engine's own handling
  // runs.

  static gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self) {
    if (!static_cast<GtkBrowserPane*>(self)->silent_) return FALSE;
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
      case WEBKIT_SCRIPT_DIALOG_CONFIRM:
        webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
        break;
      case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);  // leave the page
        break;
      default:
        break;  // an alert is acknowledged; a prompt answered with no text is cancelled
    }
    return TRUE;
  }

  static gboolean OnPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request,
                                      gpointer self) {
    if (!static_cast<GtkBrowserPane*>(self)->silent_) return FALSE;
    webkit_permission_request_deny(request);
    return TRUE;
  }

  static gboolean OnAuthenticate(WebKitWebView*, WebKitAuthenticationRequest* request,
                                 gpointer self) {
    if (!static_cast<GtkBrowserPane*>(self)->silent_) return FALSE;
    webkit_authentication_request_cancel(request);
    return TRUE;
  }

  static gboolean OnFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer self) {
    if (!static_cast<GtkBrowserPane*>(self)->silent_) return FALSE;
    webkit_file_chooser_request_cancel(request);
    return TRUE;
  }

  static gboolean OnColorChooser(WebKitWebView*, WebKitColorChooserRequest* request,
                                 gpointer self) {
    if (!static_cast<GtkBrowserPane*>(self)->silent_) return FALSE;
    webkit_color_chooser_request_cancel(request);
    return TRUE;
  }

  static gboolean OnOptionMenu(WebKitWebView*, WebKitOptionMenu* menu, GdkEvent*, GdkRectangle*,
                               gpointer self) {
    if (!static_cast<GtkBrowserPane*>(self)->silent_) return FALSE;
    webkit_option_menu_close(menu);
    return TRUE;
  }

  static gboolean OnPrint(WebKitWebView*, WebKitPrintOperation*, gpointer self) {
    return static_cast<GtkBrowserPane*>(self)->silent_;
  }

  static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*,
                                gpointer self) {
    return static_cast<GtkBrowserPane*>(self)->silent_;
  }

  // A page never opens a window of its own, silent or not.
  static GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction*, gpointer) { return nullptr; }

  WebKitWebView* view_;
  std::string address_;
  bool offline_ = false;
  bool silent_ = false;
  std::deque<gint64> restarts_;
  guint restart_source_ = 0;
  GtkPageSetup* page_setup_ = nullptr;
  GtkPrintSettings* print_settings_ = nullptr;
};

WebKitWebView* NewWebView() {
  WebKitWebContext* context = webkit_web_context_new();
  if (context == nullptr) return nullptr;
  // Before the first web process starts, i.e. before any load.
  webkit_web_context_set_sandbox_enabled(context, TRUE);

  WebKitSettings* settings = webkit_settings_new();
  // The view is never seen: compositing in software only costs time and
  // memory.
  webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_settings_set_zoom_text_only(settings, TRUE);

  WebKitWebsitePolicies* policies =
      webkit_website_policies_new_with_policies("autoplay", WEBKIT_AUTOPLAY_ALLOW, nullptr);

  gpointer view = g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "settings", settings,
                               "website-policies", policies, nullptr);
  g_object_unref(policies);
  g_object_unref(settings);
  if (view == nullptr) {
    g_object_unref(context);
    return nullptr;
  }
  // The context lives as long as its view.
  g_object_set_data_full(G_OBJECT(view), "zorva-web-context", context, g_object_unref);
  return WEBKIT_WEB_VIEW(view);
}

}  // namespace
}  // namespace player

namespace toolkit {
std::unique_ptr<NativeControl> CreateNativeBrowserPane(const ControlDescription& description,
                                                       NativeControl* window) {
  WebKitWebView* view = player::NewWebView();
  if (view == nullptr) return nullptr;
  return std::make_unique<player::GtkBrowserPane>(view, description, window);
}
}  // namespace toolkit
