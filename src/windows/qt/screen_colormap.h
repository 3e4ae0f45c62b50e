#pragma once
// On X, every window of the program is drawn with the screen's own colour
// map. The toolkit gives each window a colour map of its own, even for the
// screen's default visual, and the screen then holds two kinds of window:
// the program's and everyone else's (the root, the window manager's
// frames). Screen captures (xwd, and the VNC and screenshot tools built
// like it) read such a screen one colour map at a time, each through the
// lowest window that has it, and the server blanks what that window does
// not show: a window of the program lying over another of its windows (a
// record editor over the settings dialog, a drop-down, the colour chooser,
// a graph moved over the event list) came out as a black rectangle.
// GUI thread only.
class QApplication;

namespace qm::windows::qt {

// From now on every native window the application makes on the screen's
// default visual takes the screen's colour map. Nothing on platforms other
// than X. The watcher belongs to `app` and ends with it.
void UseScreenColormap(QApplication& app);

}  // namespace qm::windows::qt
