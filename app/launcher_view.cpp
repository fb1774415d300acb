#include "app/launcher_view.h"

#include <gtk/gtk.h>

#include <cstdlib>

namespace lumo {

namespace {

// The dialog is laid out in dialog units of an 8-point UI font: a horizontal
// unit is a quarter of the average character width (6 px), a vertical one an
// eighth of the character height (13 px).
int unitsX(int du) {
    return du * 6 / 4;
}
int unitsY(int du) {
    return du * 13 / 8;
}

class GtkLauncherView final : public LauncherView {
public:
    explicit GtkLauncherView(LauncherResults& results) : results_(results) {}

    void build() {
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(window_), launcherTitle);
        gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
        gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
        gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);

        GtkWidget* fixed = gtk_fixed_new();
        gtk_widget_set_size_request(fixed, unitsX(179), unitsY(111));
        gtk_container_add(GTK_CONTAINER(window_), fixed);

        demo_ = gtk_button_new_with_label("demo");
        place(fixed, demo_, 120, 84, 50, 14);
        fullScreen_ = gtk_check_button_new_with_label("full screen");
        place(fixed, fullScreen_, 36, 30, 49, 10);
        gpuList_ = gtk_combo_box_text_new();
        place(fixed, gpuList_, 36, 6, 132, 14); // 14 units shown; the list drops down
        GtkWidget* label = gtk_label_new("gpu:");
        gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
        place(fixed, label, 12, 12, 16, 8);
        force720p_ = gtk_check_button_new_with_label("force 720p");
        place(fixed, force720p_, 36, 48, 102, 12);
        native_ = gtk_check_button_new_with_label("native resolution");
        place(fixed, native_, 36, 66, 80, 12);

        gtk_widget_set_can_default(demo_, TRUE);
        gtk_window_set_default(GTK_WINDOW(window_), demo_);

        g_signal_connect(demo_, "clicked", G_CALLBACK(onDemoClicked), this);
        g_signal_connect(window_, "key-press-event", G_CALLBACK(onKeyPress), this);
        g_signal_connect(window_, "delete-event", G_CALLBACK(onDeleteEvent), this);
        g_signal_connect(window_, "destroy", G_CALLBACK(onDestroy), this);

        launcherProcedure(results_, *this, LauncherMessage::Initialise);
        gtk_widget_show_all(window_);
        // The first tab stop of the dialog, as Return would press it anyway.
        gtk_widget_grab_focus(demo_);
    }

    void addListEntry(LauncherControl, const char* text) override {
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(gpuList_), text);
    }
    void selectListEntry(LauncherControl, int index) override {
        gtk_combo_box_set_active(GTK_COMBO_BOX(gpuList_), index);
    }
    void sendClose() override { launcherProcedure(results_, *this, LauncherMessage::Close); }
    int checkState(LauncherControl control) override {
        GtkWidget* box = control == LauncherControl::FullScreen         ? fullScreen_
                         : control == LauncherControl::Force720p        ? force720p_
                         : control == LauncherControl::NativeResolution ? native_
                                                                        : nullptr;
        return box && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(box)) ? 1 : 0;
    }
    void destroy() override {
        if (window_) {
            GtkWidget* w = window_;
            window_ = nullptr;
            gtk_widget_destroy(w);
        }
    }
    void postQuit(int) override { gtk_main_quit(); }

private:
    static void place(GtkWidget* fixed, GtkWidget* w, int x, int y, int cx, int cy) {
        gtk_widget_set_size_request(w, unitsX(cx), unitsY(cy));
        gtk_fixed_put(GTK_FIXED(fixed), w, unitsX(x), unitsY(y));
    }

    static void onDemoClicked(GtkButton*, gpointer self) {
        auto* v = static_cast<GtkLauncherView*>(self);
        launcherProcedure(v->results_, *v, LauncherMessage::Command, LauncherControl::Demo);
    }

    // Handled on the window before the focused control sees the key: Return must
    // mean "demo" even on the drop-down, which would otherwise open its list.
    static gboolean onKeyPress(GtkWidget*, GdkEventKey* event, gpointer self) {
        auto* v = static_cast<GtkLauncherView*>(self);
        switch (event->keyval) {
        case GDK_KEY_Escape:
            launcherProcedure(v->results_, *v, LauncherMessage::Command, LauncherControl::Cancel);
            return TRUE;
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
        case GDK_KEY_ISO_Enter:
            launcherProcedure(v->results_, *v, LauncherMessage::Command, LauncherControl::Demo);
            return TRUE;
        default:
            return FALSE;
        }
    }

    // Blocked: the default would destroy the window before the check boxes are
    // read. The procedure reads them and destroys it itself.
    static gboolean onDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
        auto* v = static_cast<GtkLauncherView*>(self);
        launcherProcedure(v->results_, *v, LauncherMessage::Close);
        return TRUE;
    }

    static void onDestroy(GtkWidget*, gpointer self) {
        auto* v = static_cast<GtkLauncherView*>(self);
        v->window_ = nullptr;
        launcherProcedure(v->results_, *v, LauncherMessage::Destroy);
    }

    LauncherResults& results_;
    GtkWidget* window_ = nullptr;
    GtkWidget* demo_ = nullptr;
    GtkWidget* fullScreen_ = nullptr;
    GtkWidget* gpuList_ = nullptr;
    GtkWidget* force720p_ = nullptr;
    GtkWidget* native_ = nullptr;
};

} // namespace

bool runLauncherDialog(LauncherResults& results, std::string& whyNot) {
    // GTK would otherwise switch the C locale to the user's, and every printf
    // and number parse after it would write "1,5" for 1.5.
    gtk_disable_setlocale();
    // The _check form returns instead of exiting when there is no display.
    if (!gtk_init_check(nullptr, nullptr)) {
        const char* d = std::getenv("DISPLAY");
        whyNot = d && *d ? std::string("cannot open display ") + d : "cannot open the display";
        return false;
    }
    GtkLauncherView view(results);
    view.build();
    gtk_main();
    // Let the server see the dialog go before the demo window opens.
    while (gtk_events_pending()) {
        gtk_main_iteration();
    }
    gdk_display_flush(gdk_display_get_default());
    return true;
}

} // namespace lumo
