// The built program on a real X server, for what off-screen drawing cannot
// show: a tray icon in a real tray host (trayer) and its menu, a window framed
// by a window manager (openbox) keeping its place over restarts, a signal
// while a context menu is open, and the display going away or never being
// there. Whatever happens, the queued events reach log_last.log and every
// module's settings file is written at the end.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <regex>
#include <set>

#include "support/x_display.h"
#include "transport/transport_test_support.h"
#include "windows/qt/qt_test_support.h"
#include "windows/settings_dialog/record_page_layout.h"
#include "windows/window_module/window_entry.h"

namespace qm::windows {

std::ostream& operator<<(std::ostream& out, const Rect& r) {
    return out << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}

}  // namespace qm::windows

namespace qm::testing {
namespace {

using windows::Rect;

// What runs on the display before the program.
enum class Desk { Bare, WindowManager, Tray };

// Solid icon colours no other window of the test shows.
constexpr uint32_t kIdle = 0x20C040, kBusy = 0xC020A0, kOther = 0x808080;

bool ToolsInstalled(Desk desk) {
    std::vector<const char*> tools{"/usr/bin/Xvfb", "/usr/bin/xdotool", "/usr/bin/xwininfo"};
    if (desk != Desk::Bare) tools.push_back("/usr/bin/openbox");
    if (desk == Desk::Tray) tools.insert(tools.end(), {"/usr/bin/trayer", "/usr/bin/xwd"});
    return std::all_of(tools.begin(), tools.end(), [](const char* tool) { return ::access(tool, X_OK) == 0; });
}
#define QM_NEEDS_TOOLS(desk) \
    if (!ToolsInstalled(desk)) GTEST_SKIP() << "needs Xvfb, xdotool, x11-utils (and openbox, trayer, xwd)"

// Where one colour shows on the screen: its pixel count and bounding box.
struct Spot {
    int count = 0, left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    void Add(int x, int y) {
        ++count, left = std::min(left, x), top = std::min(top, y), right = std::max(right, x);
        bottom = std::max(bottom, y);
    }
};

// The idle and the busy icon's colours in an xwd dump of a true-colour screen.
std::pair<Spot, Spot> FindIcons(const std::string& xwd) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(xwd.data());
    const auto field = [&](size_t i) {
        const unsigned char* p = bytes + i * 4;
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    };
    std::pair<Spot, Spot> found;
    if (xwd.size() < 100) return found;
    const uint32_t width = field(4), height = field(5), msbFirst = field(7), pixelBytes = field(11) / 8,
                   lineBytes = field(12);
    const size_t start = size_t(field(0)) + size_t(field(19)) * 12;
    // Xvfb's 24-bit screens come as 24 or 32 bits a pixel.
    if ((pixelBytes != 3 && pixelBytes != 4) || xwd.size() < start + size_t(lineBytes) * height) return found;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const unsigned char* p = bytes + start + y * lineBytes + x * pixelBytes;
            // Red in the high bits: least significant byte first is blue.
            const unsigned char* q = msbFirst ? p + pixelBytes - 3 : p;
            const uint32_t pixel = msbFirst ? uint32_t(q[0]) << 16 | q[1] << 8 | q[2] : uint32_t(q[2]) << 16 | q[1] << 8 | q[0];
            if (pixel == kIdle) found.first.Add(int(x), int(y));
            if (pixel == kBusy) found.second.Add(int(x), int(y));
        }
    return found;
}

// Whether the screen, in an xwd dump of it, shows more than one colour
// within `r`: a window that came out as a flat rectangle shows one.
bool ManyColoursWithin(const std::string& xwd, const Rect& r) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(xwd.data());
    const auto field = [&](size_t i) {
        const unsigned char* p = bytes + i * 4;
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    };
    if (xwd.size() < 100) return false;
    const uint32_t width = field(4), height = field(5), pixelBytes = field(11) / 8, lineBytes = field(12);
    const size_t start = size_t(field(0)) + size_t(field(19)) * 12;
    if ((pixelBytes != 3 && pixelBytes != 4) || xwd.size() < start + size_t(lineBytes) * height) return false;
    const int left = std::max(r.left, 0), top = std::max(r.top, 0);
    const int right = std::min<int>(r.right, int(width)), bottom = std::min<int>(r.bottom, int(height));
    if (left >= right || top >= bottom) return false;
    const unsigned char* first = bytes + start + size_t(top) * lineBytes + size_t(left) * pixelBytes;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            if (!std::equal(first, first + 3, bytes + start + size_t(y) * lineBytes + size_t(x) * pixelBytes))
                return true;
    return false;
}

// A shown window's client area on the screen.
std::optional<Rect> ShownRect(const XDisplay& display, const std::string& id) {
    const std::string info = display.Run({"xwininfo", "-id", id});
    std::vector<int32_t> v;
    std::smatch m;
    for (const char* label : {"Absolute upper-left X:", "Absolute upper-left Y:", "Width:", "Height:"})
        if (std::regex_search(info, m, std::regex(label + std::string(R"(\s*(-?\d+))")))) v.push_back(std::stoi(m[1]));
    if (v.size() < 4 || !Contains(info, "IsViewable")) return std::nullopt;
    return Rect{v[0], v[1], v[0] + v[2], v[1] + v[3]};
}

Rect SavedRect(const ProgramHome& home) {
    Rect r;
    const auto ini = platform::ProfileFile::Load(home.Settings("mod_window"));
    if (const auto bytes = ini.ReadStruct("mod_window", "Item.0-Rect", core::BlobCodec<Rect>::kSize))
        core::BlobCodec<Rect>::Decode(bytes->data(), r);
    return r;
}

// The program's home, its X server with what runs there, and one syslog sender.
class ProgramOnX {
public:
    explicit ProgramOnX(Desk desk = Desk::Bare)
        : desk_(desk), display_(desk == Desk::WindowManager, desk == Desk::Tray ? "800x600x24" : "1280x1024x24") {
        home_.Listen(port_);
        // Written before the run, so a save at its end shows in the times.
        for (const auto& entry : fs::directory_iterator(home_.Home() / "Settings"))
            fs::last_write_time(entry.path(), fs::file_time_type::clock::now() - std::chrono::hours(48));
        if (desk == Desk::Tray) PaintIcons();
    }

    // `elsewhere`: the display named to the program instead of this one.
    bool Start(const std::string& elsewhere = {}) {
        if (!display_.Ok() || (desk_ == Desk::Tray && !tray_ && !StartTray())) return false;
        std::vector<std::string> env = display_.Environment({"QUILLMARK_HOME=" + home_.Home().string()});
        if (!elsewhere.empty()) std::replace(env.begin(), env.end(), "DISPLAY=" + display_.Name(), "DISPLAY=" + elsewhere);
        run_ = std::make_unique<ChildProcess>(std::vector<std::string>{QM_BINARY}, Out(++runs_), env);
        return Handshake(sender_, port_, 90s);
    }
    // Ends the program by a termination signal: it must end by itself, well.
    void Stop() {
        ASSERT_TRUE(run_->Signal(SIGTERM));
        const std::optional<int> code = run_->Exit(60s);
        ASSERT_TRUE(run_->Status());
        EXPECT_FALSE(WIFSIGNALED(*run_->Status())) << "ended by signal " << WTERMSIG(*run_->Status()) << Output();
        EXPECT_EQ(code, 0) << Output();
    }
    void Send(int from, int to) {
        for (int n = from; n < to; ++n) ASSERT_TRUE(sender_.SendTo(port_, Line(n)));
        ASSERT_TRUE(Handshake(sender_, port_, 10s));
    }
    bool CollectorAnswers(std::chrono::milliseconds wait) { return Handshake(sender_, port_, wait); }

    // Shown windows; a window that goes while xdotool looks (the loading
    // window) makes it print an X error among the ids.
    std::set<std::string> Search(std::vector<std::string> how) const {
        how.insert(how.begin(), {"xdotool", "search", "--onlyvisible"});
        std::istringstream ids(display_.Run(how));
        std::set<std::string> out;
        for (std::string id; std::getline(ids, id);)
            if (!id.empty() && id.find_first_not_of("0123456789") == std::string::npos) out.insert(id);
        return out;
    }
    // The program's windows that bypass the window manager: its tray icon,
    // and its menus while they are open.
    std::set<std::string> Unmanaged() const {
        std::set<std::string> out;
        for (const std::string& id : Search({"--class", "quillmark"}))
            if (Contains(display_.Run({"xwininfo", "-id", id}), "Override Redirect State: yes")) out.insert(id);
        return out;
    }
    // The X window of the default event list once it is shown.
    std::string ListWindow() const {
        std::set<std::string> found;
        // The window module loads last; a sanitizer build on a busy machine is slow.
        WaitUntil([&] { return !(found = Search({"--name", "^Syslog$"})).empty(); }, 90s);
        return found.empty() ? std::string() : *found.begin();
    }
    // A shown window of the program besides `known` that is neither a menu
    // nor the status note (the titles are not ASCII, and the X tools run
    // here without a locale).
    std::string OtherWindow(const std::string& known) const {
        std::set<std::string> skip = Unmanaged();
        skip.merge(Search({"--name", "^Quillmark$"}));
        skip.insert(known);
        for (const std::string& id : Search({"--class", "quillmark"}))
            if (!skip.count(id)) return id;
        return {};
    }

    // The tray icons on screen, and a click on one.
    std::pair<Spot, Spot> Icons() const { return FindIcons(display_.Run({"xwd", "-root", "-silent"})); }
    void Click(const Spot& icon, int button) const {
        display_.Run({"xdotool", "mousemove", std::to_string((icon.left + icon.right) / 2),
                      std::to_string((icon.top + icon.bottom) / 2), "click", std::to_string(button)});
    }
    // Right-clicks the icon, waits for the menu, moves the pointer off it
    // (so it selects nothing) and types `keys`; true once the menu is gone
    // (at once with `last`: the program is ending).
    bool Choose(const Spot& icon, std::vector<std::string> keys, bool last = false) const {
        const std::set<std::string> before = Unmanaged();
        Click(icon, 3);
        std::string menu;
        if (!WaitUntil([&] {
                for (const std::string& id : Unmanaged())
                    if (!before.count(id)) menu = id;
                return !menu.empty();
            }, 30s))
            return false;
        display_.Run({"xdotool", "mousemove", "10", "590"});
        keys.insert(keys.begin(), {"xdotool", "key", "--delay", "100"});
        display_.Run(keys);
        return last || WaitUntil([&] { return !Unmanaged().count(menu); }, 30s);
    }

    // The numbered lines from..to-1 are in log_last.log, each once.
    void ExpectLogged(int from, int to) const {
        std::multiset<std::string> lines;
        for (const std::string& line : LogLines(home_.Logs() / "log_last.log"))
            if (StartsWith(line, "<14>quillmark window test ")) lines.insert(line.substr(0, line.find('|')));
        EXPECT_EQ(lines.size(), size_t(to - from)) << Output();
        for (int n = from; n < to; ++n) EXPECT_EQ(lines.count(Line(n)), 1u) << n;
    }
    void ExpectSettingsSaved() const {
        for (const char* file : {"Core", "mod_rules", "mod_dns", "mod_dbase", "mod_collector", "mod_relay",
                                 "mod_httpserver", "mod_window"}) {
            const fs::path path = home_.Settings(file);
            ASSERT_TRUE(fs::exists(path)) << path;
            EXPECT_GT(fs::last_write_time(path), fs::file_time_type::clock::now() - std::chrono::hours(1)) << path;
        }
    }

    XDisplay& Display() { return display_; }
    ChildProcess& Run() { return *run_; }
    const ProgramHome& Home() const { return home_; }
    std::string Output() const {
        return "\n" + ReadWholeFile(Out(runs_)) + "\ntrayer: " + ReadWholeFile(output_.path() / "trayer.txt") +
               (display_.Problem().empty() ? "" : "\ndisplay: " + display_.Problem());
    }
    // What the program printed and what the X server holds, for a failure.
    std::string Diagnosis() const {
        return Output() + "\n-- windows on the display:\n" + display_.Run({"xwininfo", "-root", "-tree"}) +
               "\n-- program alive: " + (run_ && run_->Alive() ? "yes" : "no");
    }

private:
    static std::string Line(int n) { return "<14>quillmark window test " + std::to_string(n) + " end"; }
    fs::path Out(int run) const { return output_.path() / ("run" + std::to_string(run) + ".txt"); }

    // An icon folder whose idle (1) and busy (8) icons are told apart by
    // colour; the numbers between are there so the folder reaches 8.
    void PaintIcons() {
        const fs::path icons = home_.Home() / "Resource" / "Icons";
        fs::create_directories(icons);
        windows::qt::test::App();
        for (int n = 0; n <= 8; ++n) {
            QImage image(32, 32, QImage::Format_ARGB32);
            image.fill(QColor::fromRgb(n == 1 ? kIdle : n == 8 ? kBusy : kOther));
            QImageWriter writer(QString::fromStdString((icons / ("icn" + std::to_string(n) + ".ico")).string()), "ico");
            EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
        }
    }
    // The tray host at the top right, then a window manager that keeps it
    // above the windows. The host goes first: started beside a window
    // manager that is just settling, it can stay unmapped.
    bool StartTray() {
        tray_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel",
                                     "--width", "120", "--height", "32", "--SetDockType", "true", "--SetPartialStrut",
                                     "true"},
            output_.path() / "trayer.txt", display_.Environment());
        // A busy machine takes its time over a GTK program's first start.
        if (!WaitUntil([&] { return !Search({"--name", "^panel$"}).empty() || !tray_->Alive(); }, 90s) ||
            !tray_->Alive()) {
            ADD_FAILURE() << "no tray host: " << Output() << display_.Run({"xwininfo", "-root", "-tree"});
            return false;
        }
        wm_ = std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/openbox", "--sm-disable"},
                                             output_.path() / "openbox.txt", display_.Environment());
        const bool managed = WaitUntil([&] {
            return !wm_->Alive() || Contains(display_.Run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}), "window id");
        }, 60s) && wm_->Alive();
        if (!managed) ADD_FAILURE() << "no window manager: " << ReadWholeFile(output_.path() / "openbox.txt");
        return managed;
    }

    Desk desk_;
    XDisplay display_;
    ProgramHome home_;
    TempDir output_{"qm-display-run"};
    UdpPeer sender_;
    uint16_t port_ = FreePort();
    int runs_ = 0;
    // Ended before the display: the program, the window manager, the host.
    std::unique_ptr<ChildProcess> tray_, wm_, run_;
};

TEST(ProgramOnX, TrayIconMenuNoteAndExit) {
    QM_NEEDS_TOOLS(Desk::Tray);
    ProgramOnX p(Desk::Tray);
    ASSERT_TRUE(p.Start()) << p.Output();
    EXPECT_FALSE(Contains(p.Output(), "No system tray")) << p.Output();

    // Start-up ends busy and the tray turns idle within a tick or two. The
    // busy icon shows only for a moment, too short to be sure to catch here.
    std::pair<Spot, Spot> icons;
    ASSERT_TRUE(WaitUntil([&] { return (icons = p.Icons()).first.count > 0; }, 60s)) << p.Output();
    const Spot icon = icons.first;
    EXPECT_EQ(icons.second.count, 0) << "the busy icon beside the idle one";
    EXPECT_GE(icon.right - icon.left, 10);

    // Top to bottom: the list window, the graphs, the services, (settings,
    // disabled), About, Exit.
    ASSERT_TRUE(p.Choose(icon, {"Down", "Return"})) << p.Output();
    EXPECT_TRUE(WaitUntil([&] { return p.Search({"--name", "^Syslog$"}).empty(); }, 30s)) << "the list was not hidden";
    // The new home's graph is hidden until chosen.
    EXPECT_TRUE(p.Search({"--name", "^Program$"}).empty());
    ASSERT_TRUE(p.Choose(icon, {"Down", "Down", "Right", "Return"})) << p.Output();
    EXPECT_TRUE(WaitUntil([&] { return !p.Search({"--name", "^Program$"}).empty(); }, 30s)) << "the graph was not shown";

    ASSERT_TRUE(p.Choose(icon, {"Down", "Down", "Down", "Right", "Down", "Return"})) << p.Output();
    EXPECT_TRUE(WaitUntil([&] { return !p.CollectorAnswers(1s); }, 60s)) << "the services were not stopped";
    ASSERT_TRUE(p.Choose(icon, {"Down", "Down", "Down", "Right", "Return"})) << p.Output();
    EXPECT_TRUE(p.CollectorAnswers(60s)) << "the services were not started again";

    ASSERT_TRUE(p.Choose(icon, {"Up", "Up", "Return"})) << p.Output();
    EXPECT_TRUE(WaitUntil([&] { return !p.Search({"--name", "\\.\\.\\.$"}).empty(); }, 30s)) << "no About box";

    // A left click shows the note; it goes again after ten seconds or so.
    p.Click(icon, 1);
    EXPECT_TRUE(WaitUntil([&] { return !p.Search({"--name", "^Quillmark$"}).empty(); }, 30s)) << "no status note";
    EXPECT_TRUE(WaitUntil([&] { return p.Search({"--name", "^Quillmark$"}).empty(); }, 60s)) << "the note stayed";

    ASSERT_TRUE(p.Choose(icon, {"Up", "Return"}, true)) << p.Output();
    EXPECT_EQ(p.Run().Exit(60s), 0) << p.Output();
    p.ExpectSettingsSaved();
}

// The display going away (a logout), with or without a tray icon on it,
// ends nothing: the program goes on without windows, still takes events and
// ends in order when told to.
TEST(ProgramOnX, LosingTheDisplayLosesNoEventsAndNoSettings) {
    QM_NEEDS_TOOLS(Desk::Bare);
    for (const Desk desk : {Desk::Bare, Desk::Tray}) {
        SCOPED_TRACE(desk == Desk::Tray ? "with a tray" : "without a tray");
        if (!ToolsInstalled(desk)) continue;
        ProgramOnX p(desk);
        ASSERT_TRUE(p.Start()) << p.Output();
        ASSERT_NO_FATAL_FAILURE(p.Send(0, 20));
        if (desk == Desk::Tray) {
            ASSERT_TRUE(WaitUntil([&] { return p.Icons().first.count > 0; }, 60s)) << p.Output();
        } else {
            ASSERT_FALSE(p.ListWindow().empty()) << p.Diagnosis();
        }

        p.Display().Kill();
        ASSERT_TRUE(WaitUntil([&] { return Contains(p.Output(), "The display is gone") || !p.Run().Alive(); }, 30s))
            << p.Output();
        ASSERT_TRUE(p.Run().Alive()) << p.Output();
        ASSERT_NO_FATAL_FAILURE(p.Send(20, 40));
        ASSERT_NO_FATAL_FAILURE(p.Stop());
        p.ExpectLogged(0, 40);
        p.ExpectSettingsSaved();
    }
}

TEST(ProgramOnX, ASignalWhileAContextMenuIsOpenEndsInOrder) {
    QM_NEEDS_TOOLS(Desk::Bare);
    // The event list's menu, then the info box's (opened by a double click
    // on a row, as "Подробно..." does).
    for (const bool infoBox : {false, true}) {
        SCOPED_TRACE(infoBox ? "info box menu" : "event list menu");
        ProgramOnX p;
        ASSERT_TRUE(p.Start()) << p.Output();
        ASSERT_NO_FATAL_FAILURE(p.Send(0, 20));
        std::string window = p.ListWindow();
        ASSERT_FALSE(window.empty()) << p.Diagnosis();
        // The rows fill within the list's one-second timer.
        std::string box;
        if (infoBox) {
            ASSERT_TRUE(WaitUntil([&] {
                p.Display().Run({"xdotool", "mousemove", "--window", window, "150", "45", "click", "--repeat", "2", "1"});
                return !(box = p.OtherWindow(window)).empty();
            }, 30s)) << p.Output();
            window = box;
        }
        p.Display().Run({"xdotool", "mousemove", "--window", window, "150", "60", "click", "3"});
        ASSERT_TRUE(WaitUntil([&] { return !p.Unmanaged().empty(); }, 20s)) << p.Output();
        ASSERT_NO_FATAL_FAILURE(p.Stop());
        p.ExpectLogged(0, 20);
        p.ExpectSettingsSaved();
    }
}

// A display that is named but cannot be reached at start (a stale DISPLAY
// over ssh) does not end the program: it runs with off-screen windows.
TEST(ProgramOnX, AnUnreachableDisplayAtStartMeansOffScreenWindows) {
    QM_NEEDS_TOOLS(Desk::Bare);
    ProgramOnX p;
    ASSERT_TRUE(p.Start(":4321")) << p.Output();  // Xvfb picks the lowest free numbers
    ASSERT_NO_FATAL_FAILURE(p.Send(0, 10));
    EXPECT_TRUE(Contains(p.Output(), "The display :4321 cannot be reached: the windows are drawn off-screen"))
        << p.Output();
    ASSERT_NO_FATAL_FAILURE(p.Stop());
    p.ExpectLogged(0, 10);
    p.ExpectSettingsSaved();
}

// Framed by openbox with a title bar, a window's outer place and size come
// back the same at every start, on screen and in the saved settings.
TEST(ProgramOnX, AFramedWindowKeepsItsSizeAndPlaceOverRestarts) {
    QM_NEEDS_TOOLS(Desk::WindowManager);
    ProgramOnX p(Desk::WindowManager);
    const Rect saved = SavedRect(p.Home());
    ASSERT_GT(saved.Width(), windows::kMinWindowWidth);
    ASSERT_GT(saved.Height(), windows::kMinWindowHeight);
    // The client area as xwininfo gives it, grown by the frame the window
    // manager reports (left, right, top, bottom) once it has made it.
    const auto outer = [&](const std::string& id) -> std::optional<Rect> {
        const std::string info = p.Display().Run({"xwininfo", "-id", id});
        const std::string frame = p.Display().Run({"xprop", "-id", id, "_NET_FRAME_EXTENTS"});
        std::vector<int32_t> v;
        std::smatch m;
        for (const char* label : {"Absolute upper-left X:", "Absolute upper-left Y:", "Width:", "Height:"})
            if (std::regex_search(info, m, std::regex(label + std::string(R"(\s*(-?\d+))")))) v.push_back(std::stoi(m[1]));
        if (v.size() < 4 || !std::regex_search(frame, m, std::regex(R"(= (\d+), (\d+), (\d+), (\d+))"))) return std::nullopt;
        const auto e = [&](int i) { return int32_t(std::stoi(m[i])); };
        return Rect{v[0] - e(1), v[1] - e(3), v[0] + v[2] + e(2), v[1] + v[3] + e(4)};
    };
    for (int run = 1; run <= 4; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        ASSERT_TRUE(p.Start()) << p.Output();
        const std::string id = p.ListWindow();
        ASSERT_FALSE(id.empty()) << p.Diagnosis();
        std::optional<Rect> shown;
        EXPECT_TRUE(WaitUntil([&] { return (shown = outer(id)) == saved; }, 20s))
            << "on screen " << (shown ? *shown : Rect{}) << ", saved " << saved;
        ASSERT_NO_FATAL_FAILURE(p.Stop());
        EXPECT_EQ(SavedRect(p.Home()), saved);
    }
}

// Every kind of window the program shows is painted on the screen, also
// where it lies over another of the program's windows (where a capture used
// to show a black rectangle): the event list, its menu, the info box, a graph
// moved and resized over the list, the settings dialog, the list shown
// again over it, the record editors of the rules and the lists, and the
// colour chooser.
TEST(ProgramOnX, EveryKindOfWindowIsPaintedOnScreen) {
    QM_NEEDS_TOOLS(Desk::WindowManager);
    if (::access("/usr/bin/xwd", X_OK) != 0) GTEST_SKIP() << "needs xwd";
    ProgramOnX p(Desk::WindowManager);
    ASSERT_TRUE(p.Start()) << p.Output();
    ASSERT_NO_FATAL_FAILURE(p.Send(0, 20));
    const std::string list = p.ListWindow();
    ASSERT_FALSE(list.empty()) << p.Diagnosis();
    XDisplay& x = p.Display();
    // Without a tray the status window stays, once the loading one has gone.
    std::set<std::string> status;
    ASSERT_TRUE(WaitUntil([&] { return (status = p.Search({"--name", "^Quillmark$"})).size() == 1; }, 60s))
        << p.Diagnosis();
    const std::string core = *status.begin();

    const auto painted = [&](const std::string& id, const std::string& what) {
        std::optional<Rect> shown;
        EXPECT_TRUE(WaitUntil([&] {
            return (shown = ShownRect(x, id)) && ManyColoursWithin(x.Run({"xwd", "-root", "-silent"}), *shown);
        }, 30s)) << what << " (" << id << ") is not painted at " << (shown ? *shown : Rect{}) << p.Diagnosis();
    };
    // Moves or resizes a window with xdotool and waits until it has.
    const auto reshape = [&](const std::string& id, const char* how, int a, int b, auto done) {
        x.Run({"xdotool", how, id, std::to_string(a), std::to_string(b)});
        EXPECT_TRUE(WaitUntil([&] {
            const std::optional<Rect> at = ShownRect(x, id);
            return at && done(*at);
        }, 30s)) << how << " " << id << p.Diagnosis();
    };
    std::set<std::string> known = p.Search({"--class", "quillmark"});
    // A shown window of the program that was not there before `open`.
    const auto next = [&](const std::function<void()>& open, std::chrono::milliseconds wait = 30s) {
        open();
        std::string found;
        WaitUntil([&] {
            for (const std::string& id : p.Search({"--class", "quillmark"}))
                if (!known.count(id)) found = id;
            return !found.empty();
        }, wait);
        return found;
    };
    const auto gone = [&](const std::string& id) {
        return WaitUntil([&] { return !p.Search({"--class", "quillmark"}).count(id); }, 30s);
    };
    // The status window's menu, counted from its end: Exit, About, Settings,
    // the services, the graphs.
    const auto menu = [&](std::vector<std::string> keys) {
        const std::string popup = next([&] { x.Run({"xdotool", "mousemove", "--window", core, "150", "40", "click", "3"}); });
        ASSERT_FALSE(popup.empty()) << p.Diagnosis();
        painted(popup, "the status window's menu");
        x.Run({"xdotool", "mousemove", "5", "1015"});
        keys.insert(keys.begin(), {"xdotool", "key", "--delay", "100"});
        x.Run(keys);
        ASSERT_TRUE(gone(popup)) << p.Diagnosis();
    };

    painted(list, "the event list");
    const std::optional<Rect> listRect = ShownRect(x, list);
    ASSERT_TRUE(listRect);

    ASSERT_NO_FATAL_FAILURE(menu({"Up", "Up", "Up", "Up", "Up", "Right", "Return"}));
    std::set<std::string> graphs;
    ASSERT_TRUE(WaitUntil([&] { return !(graphs = p.Search({"--name", "^Program$"})).empty(); }, 30s)) << p.Diagnosis();
    const std::string graph = *graphs.begin();
    painted(graph, "the graph");
    // Over the list, below its first rows.
    const Rect to{listRect->left + 60, listRect->top + 120, 0, 0};
    reshape(graph, "windowmove", to.left, to.top, [&](const Rect& at) { return at.left >= to.left && at.top >= to.top; });
    painted(graph, "the graph moved over the list");
    const Rect before = ShownRect(x, graph).value_or(Rect{});
    reshape(graph, "windowsize", before.Width() + 80, before.Height() + 60,
            [&](const Rect& at) { return at.Width() > before.Width() && at.Height() > before.Height(); });
    painted(graph, "the graph resized");
    known.insert(graph);

    // A double click on a row opens its info box; the rows fill within the
    // list's one-second timer.
    std::string box;
    ASSERT_TRUE(WaitUntil([&] {
        box = next([&] { x.Run({"xdotool", "mousemove", "--window", list, "150", "45", "click", "--repeat", "2", "1"}); },
                   1s);
        return !box.empty();
    }, 30s)) << p.Diagnosis();
    painted(box, "the info box");
    known.insert(box);

    ASSERT_NO_FATAL_FAILURE(menu({"Up", "Up", "Up", "Return"}));
    const std::string dialog = next([] {});
    ASSERT_FALSE(dialog.empty()) << p.Diagnosis();
    painted(dialog, "the settings dialog");
    known.insert(dialog);
    // Clear of the status window, whose menu comes next.
    reshape(dialog, "windowmove", 0, 0, [](const Rect& at) { return at.top < 100; });

    // The list is the menu's first entry: hidden, then shown over the dialog.
    ASSERT_NO_FATAL_FAILURE(menu({"Down", "Return"}));
    ASSERT_TRUE(gone(list)) << "the list was not hidden";
    ASSERT_NO_FATAL_FAILURE(menu({"Down", "Return"}));
    ASSERT_TRUE(WaitUntil([&] { return p.Search({"--class", "quillmark"}).count(list) > 0; }, 30s));
    painted(list, "the event list shown again");
    const std::string listMenu =
        next([&] { x.Run({"xdotool", "mousemove", "--window", list, "150", "60", "click", "3"}); });
    ASSERT_FALSE(listMenu.empty()) << p.Diagnosis();
    painted(listMenu, "the event list's menu");
    x.Run({"xdotool", "key", "Escape"});
    ASSERT_TRUE(gone(listMenu));

    // In the dialog, a page is chosen on its list from the first; the focus
    // then goes past Export, Import, Close and the page's scroll area to the first
    // button the page has: on the colour scheme its first colour, on the
    // rules and the lists (whose tables are empty in this home, so a Tab
    // leaves them) the Add of the first table.
    ASSERT_TRUE(WaitUntil([&] {
        x.Run({"xdotool", "windowactivate", dialog});
        return Contains(x.Run({"xdotool", "getactivewindow"}), dialog);
    }, 30s)) << p.Diagnosis();
    const std::vector<windows::qt::PageLayout>& pages = windows::qt::RecordPageLayouts();
    for (size_t page = 0; page < pages.size(); ++page) {
        const uint32_t title = pages[page].title;
        if (title != core::str::kPageColorScheme && title != core::str::kPageRules && title != core::str::kPageLists)
            continue;
        SCOPED_TRACE("page " + std::to_string(page));
        const std::string opened = next([&] {
            x.Run({"xdotool", "mousemove", "--window", dialog, "40", "18", "click", "1"});
            std::vector<std::string> keys{"xdotool", "key", "--delay", "50"};
            keys.insert(keys.end(), page, "Down");
            keys.insert(keys.end(), {"Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "space"});
            x.Run(keys);
        });
        ASSERT_FALSE(opened.empty()) << p.Diagnosis();
        painted(opened, title == core::str::kPageColorScheme ? "the colour chooser" : "a record editor");
        x.Run({"xdotool", "key", "Escape"});
        ASSERT_TRUE(gone(opened)) << p.Diagnosis();
    }

    ASSERT_NO_FATAL_FAILURE(p.Stop());
}

}  // namespace
}  // namespace qm::testing
