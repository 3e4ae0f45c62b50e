// The built program's tray icon on a real X server with a real tray host
// (trayer): the busy icon gives way to the idle one, a right click opens the
// program's menu, whose entries lead, in order, to the windows, the services,
// About and Exit; a left click shows the status note for a while.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <arpa/inet.h>

#include <QImage>
#include <QImageWriter>

#include <set>

#include "support/x_display.h"
#include "transport/transport_test_support.h"
#include "windows/qt/qt_test_support.h"

namespace qm::testing {
namespace {

// Solid colours no other window of the test shows.
constexpr uint32_t kIdle = 0x20C040;
constexpr uint32_t kBusy = 0xC020A0;
constexpr uint32_t kOther = 0x808080;

bool ToolsInstalled() {
    for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/openbox", "/usr/bin/xdotool", "/usr/bin/xwininfo",
                             "/usr/bin/trayer", "/usr/bin/xwd"})
        if (::access(tool, X_OK) != 0) return false;
    return true;
}

// Where one colour shows on the screen: its pixel count and bounding box.
struct Spot {
    int count = 0;
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    int CenterX() const { return (left + right) / 2; }
    int CenterY() const { return (top + bottom) / 2; }
};

// Reads an xwd dump of a true-colour screen and finds the
// two icon colours in it.
std::pair<Spot, Spot> FindIcons(const std::string& xwd) {
    const auto field = [&](size_t i) {
        const auto* p = reinterpret_cast<const unsigned char*>(xwd.data()) + i * 4;
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    };
    std::pair<Spot, Spot> found;
    if (xwd.size() < 100) return found;
    const uint32_t headerSize = field(0), width = field(4), height = field(5), byteOrder = field(7),
                   bitsPerPixel = field(11), bytesPerLine = field(12), colors = field(19);
    // Xvfb's 24-bit screens come as 24 or 32 bits a pixel.
    if (bitsPerPixel != 24 && bitsPerPixel != 32) return found;
    const uint32_t bytesPerPixel = bitsPerPixel / 8;
    const size_t start = size_t(headerSize) + size_t(colors) * 12;
    if (xwd.size() < start + size_t(bytesPerLine) * height) return found;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const auto* p = reinterpret_cast<const unsigned char*>(xwd.data()) + start + y * bytesPerLine + x * bytesPerPixel;
            // Red in the high bits: least significant byte first is blue.
            const unsigned char* q = byteOrder == 0 ? p : p + bytesPerPixel - 3;
            const uint32_t pixel = byteOrder == 0 ? uint32_t(q[2]) << 16 | uint32_t(q[1]) << 8 | q[0]
                                                  : uint32_t(q[0]) << 16 | uint32_t(q[1]) << 8 | q[2];
            Spot* spot = pixel == kIdle ? &found.first : pixel == kBusy ? &found.second : nullptr;
            if (spot == nullptr) continue;
            ++spot->count;
            spot->left = std::min(spot->left, int(x));
            spot->top = std::min(spot->top, int(y));
            spot->right = std::max(spot->right, int(x));
            spot->bottom = std::max(spot->bottom, int(y));
        }
    }
    return found;
}

class TrayOnDisplay {
public:
    TrayOnDisplay() {
        home_.Listen(port_);
        // An icon folder whose idle and busy icons are told apart by colour;
        // the numbers between are there so the folder reaches number 8.
        const fs::path icons = home_.Home() / "Resource" / "Icons";
        fs::create_directories(icons);
        windows::qt::test::App();
        for (int n = 0; n <= 8; ++n) {
            QImage image(32, 32, QImage::Format_ARGB32);
            image.fill(QColor::fromRgb(n == 1 ? kIdle : n == 8 ? kBusy : kOther));
            QImageWriter writer(QString::fromStdString((icons / ("icn" + std::to_string(n) + ".ico")).string()), "ico");
            EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
        }
        for (const auto& entry : fs::directory_iterator(home_.Home() / "Settings"))
            fs::last_write_time(entry.path(), fs::file_time_type::clock::now() - std::chrono::hours(48));
    }

    // The tray host at the top right, then a window manager that keeps it
    // above the windows, then the program. The host goes first: started
    // beside a window manager that is just settling, it can stay unmapped.
    bool Start() {
        if (!display_.Ok()) return false;
        tray_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel",
                                     "--width", "120", "--height", "32", "--SetDockType", "true", "--SetPartialStrut",
                                     "true"},
            output_.path() / "trayer.txt", display_.Environment());
        // A busy machine takes its time over a GTK program's first start.
        if (!WaitUntil([&] { return !Search({"--name", "^panel$"}).empty() || !tray_->Alive(); }, 90s) ||
            !tray_->Alive()) {
            ADD_FAILURE() << "no tray host: " << ReadWholeFile(output_.path() / "trayer.txt")
                          << display_.Run({"xwininfo", "-root", "-tree"});
            return false;
        }
        wm_ = std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/openbox", "--sm-disable"},
                                             output_.path() / "openbox.txt", display_.Environment());
        if (!WaitUntil([&] { return Contains(display_.Run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}), "window id"); },
                       60s)) {
            ADD_FAILURE() << "no window manager: " << ReadWholeFile(output_.path() / "openbox.txt");
            return false;
        }
        run_ = std::make_unique<ChildProcess>(std::vector<std::string>{QM_BINARY}, output_.path() / "output.txt",
                                              display_.Environment({"QUILLMARK_HOME=" + home_.Home().string()}));
        return Handshake(sender_, port_, 90s);
    }

    std::pair<Spot, Spot> Icons() { return FindIcons(display_.Run({"xwd", "-root", "-silent"})); }

    std::set<std::string> Search(std::vector<std::string> how) {
        how.insert(how.begin(), {"xdotool", "search", "--onlyvisible"});
        std::istringstream ids(display_.Run(how));
        std::set<std::string> out;
        for (std::string id; std::getline(ids, id);) out.insert(id);
        return out;
    }
    // The program's windows that bypass the window manager: its tray icon,
    // and its menus while they are open.
    std::set<std::string> Unmanaged() {
        std::set<std::string> out;
        for (const std::string& id : Search({"--class", "quillmark"}))
            if (Contains(display_.Run({"xwininfo", "-id", id}), "Override Redirect State: yes")) out.insert(id);
        return out;
    }

    // Right-clicks the icon, waits for the menu, moves the pointer off it
    // (so it selects nothing) and types `keys`; true once the menu is gone
    // (at once with `last`: the program is ending).
    bool Choose(const Spot& icon, std::vector<std::string> keys, bool last = false) {
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
    void Click(const Spot& icon, int button) {
        display_.Run({"xdotool", "mousemove", std::to_string(icon.CenterX()), std::to_string(icon.CenterY()), "click",
                      std::to_string(button)});
    }
    bool CollectorAnswers(std::chrono::milliseconds wait) { return Handshake(sender_, port_, wait); }

    void ExpectSettingsSaved() const {
        for (const char* file : {"Core", "mod_rules", "mod_dns", "mod_dbase", "mod_collector", "mod_relay",
                                 "mod_httpserver", "mod_window"}) {
            const fs::path path = home_.Settings(file);
            ASSERT_TRUE(fs::exists(path)) << path;
            EXPECT_GT(fs::last_write_time(path), fs::file_time_type::clock::now() - std::chrono::hours(1)) << path;
        }
    }

    ChildProcess& Run() { return *run_; }
    XDisplay& Display() { return display_; }
    std::string Output() const {
        return ReadWholeFile(output_.path() / "output.txt") + "\ntrayer: " + ReadWholeFile(output_.path() / "trayer.txt");
    }

private:
    XDisplay display_{false, "800x600x24"};
    ProgramHome home_;
    TempDir output_{"qm-tray-run"};
    UdpPeer sender_;
    uint16_t port_ = FreePort();
    // Ended before the display: the program, the window manager, the host.
    std::unique_ptr<ChildProcess> tray_;
    std::unique_ptr<ChildProcess> wm_;
    std::unique_ptr<ChildProcess> run_;
};

TEST(TrayOnDisplay, IconMenuNoteAndExitOfTheRealProgram) {
    if (!ToolsInstalled()) GTEST_SKIP() << "needs Xvfb, openbox, xdotool, xwininfo, xwd and trayer";
    TrayOnDisplay p;
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

// The display going away under the tray icon (a logout) ends nothing: the
// program goes on without windows and ends in order when told to.
TEST(TrayOnDisplay, LosingTheDisplayUnderTheTrayIconKeepsTheProgramRunning) {
    if (!ToolsInstalled()) GTEST_SKIP() << "needs Xvfb, openbox, xdotool, xwininfo, xwd and trayer";
    TrayOnDisplay p;
    ASSERT_TRUE(p.Start()) << p.Output();
    ASSERT_TRUE(WaitUntil([&] { return p.Icons().first.count > 0; }, 60s)) << p.Output();

    p.Display().Kill();
    ASSERT_TRUE(WaitUntil([&] { return Contains(p.Output(), "The display is gone") || !p.Run().Alive(); }, 30s))
        << p.Output();
    ASSERT_TRUE(p.Run().Alive()) << p.Output();
    EXPECT_TRUE(p.CollectorAnswers(30s)) << p.Output();
    ASSERT_TRUE(p.Run().Signal(SIGTERM));
    EXPECT_EQ(p.Run().Exit(60s), 0) << p.Output();
    p.ExpectSettingsSaved();
}

}  // namespace
}  // namespace qm::testing
