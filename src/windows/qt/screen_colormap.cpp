#include "windows/qt/screen_colormap.h"

#include <cstdlib>
#include <memory>

#include <QApplication>
#include <QPlatformSurfaceEvent>
#include <QWindow>

#include <xcb/xcb.h>

namespace qm::windows::qt {

namespace {

template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

// Gives the window its screen's default colour map when it is drawn on the
// screen's default visual; a window of another visual (a translucent one)
// keeps its own map, which is the only one its visual can use.
void TakeScreenColormap(xcb_connection_t* connection, xcb_window_t window) {
    ReplyPtr<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr), &std::free);
    ReplyPtr<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr), &std::free);
    if (!attributes || !geometry) return;  // gone already
    for (auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection)); screens.rem; xcb_screen_next(&screens)) {
        const xcb_screen_t& screen = *screens.data;
        if (screen.root != geometry->root) continue;
        if (attributes->visual != screen.root_visual || attributes->colormap == screen.default_colormap) return;
        const uint32_t colormap = screen.default_colormap;
        xcb_change_window_attributes(connection, window, XCB_CW_COLORMAP, &colormap);
        xcb_flush(connection);
        return;
    }
}

// Sees every native window as the toolkit makes it, before it is first
// shown: top-levels, drop-downs, tool tips and the toolkit's own dialogs
// alike, and a window made anew when its flags change.
class ColormapWatcher : public QObject {
public:
    ColormapWatcher(QObject* parent, xcb_connection_t* connection) : QObject(parent), connection_(connection) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::PlatformSurface &&
            static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() ==
                QPlatformSurfaceEvent::SurfaceCreated) {
            if (auto* window = qobject_cast<QWindow*>(watched))
                TakeScreenColormap(connection_, static_cast<xcb_window_t>(window->winId()));
        }
        return QObject::eventFilter(watched, event);
    }

private:
    xcb_connection_t* connection_;
};

}  // namespace

void UseScreenColormap(QApplication& app) {
    const auto* x11 = app.nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr) return;
    app.installEventFilter(new ColormapWatcher(&app, x11->connection()));  // owned by the application
}

}  // namespace qm::windows::qt
