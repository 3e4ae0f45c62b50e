// The built program on the desktops most people use: a StatusNotifier host
// on the session bus (KDE, GNOME's AppIndicator, waybar) that shows the menu
// the tray icon exports, and a Wayland compositor (weston) that allows no
// popup at the pointer. Each runs privately: its own bus, its own compositor.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>

#include "support/x_display.h"
#include "transport/transport_test_support.h"
#include "windows/qt/qt_test_support.h"

namespace qm::testing {
namespace {

const fs::path kHostScript = fs::path(QM_SOURCE_DIR) / "tests/windows/qt/status_notifier_host.py";
constexpr uint32_t kIconColour = 0x20C040, kNoteAccent = 0xFFFF00;

bool Installed(std::initializer_list<const char*> tools) {
    return std::all_of(tools.begin(), tools.end(), [](const char* tool) { return ::access(tool, X_OK) == 0; });
}
bool HasPythonDbus() {
    TempDir dir("qm-py");
    ChildProcess probe({"/usr/bin/python3", "-c", "import dbus, gi.repository.GLib"}, dir.path() / "out.txt");
    return probe.Exit(std::chrono::seconds(30)) == 0;
}

// A session bus of our own, and a StatusNotifier watcher and host on it.
class TrayHost {
public:
    TrayHost() {
        WriteWholeFile(dir_.path() / "bus.conf",
                       "<busconfig><type>session</type><listen>unix:dir=" + dir_.path().string() +
                           "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                           "<allow own=\"*\"/></policy></busconfig>");
        bus_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/dbus-daemon", "--config-file=" + (dir_.path() / "bus.conf").string(),
                                     "--nofork", "--print-address=1"},
            dir_.path() / "address.txt", ChildEnvironment({}), dir_.path() / "bus.txt");
        WaitUntil([&] { return Contains(ReadWholeFile(dir_.path() / "address.txt"), "\n") || !bus_->Alive(); }, 30s);
        const std::string printed = ReadWholeFile(dir_.path() / "address.txt");
        address_ = printed.substr(0, printed.find('\n'));
        if (address_.empty()) return;
        host_ = std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/python3", kHostScript.string(), "host"},
                                               dir_.path() / "host.txt", ChildEnvironment(Variables()));
        ready_ = WaitUntil([&] { return Contains(Said(), "ready\n") || !host_->Alive(); }, 60s) && host_->Alive();
    }

    bool Ok() const { return ready_; }
    std::string Said() const {
        return ReadWholeFile(dir_.path() / "host.txt") + ReadWholeFile(dir_.path() / "bus.txt");
    }
    // What a client of the bus needs in its environment, added to `more`.
    std::vector<std::string> Variables(std::vector<std::string> more = {}) const {
        more.push_back("DBUS_SESSION_BUS_ADDRESS=" + address_);
        return more;
    }
    // The bus name of the first item that registered, once one has.
    std::string Item(std::chrono::milliseconds wait) const {
        std::smatch m;
        std::string said;
        const std::regex registered("registered (\\S+)\n");
        WaitUntil([&] { return std::regex_search(said = Said(), m, registered); }, wait);
        return m.empty() ? std::string() : m[1].str();
    }
    // What the host script prints for `args` ("show NAME", "click NAME LABEL").
    std::vector<std::string> Ask(std::vector<std::string> args) const {
        const fs::path out = dir_.path() / ("ask" + std::to_string(++asks_) + ".txt");
        args.insert(args.begin(), {"/usr/bin/python3", kHostScript.string()});
        ChildProcess(std::move(args), out, ChildEnvironment(Variables())).Exit(60s);
        std::vector<std::string> lines;
        std::istringstream text(ReadWholeFile(out));
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        return lines;
    }

private:
    TempDir dir_{"qm-bus"};
    std::string address_;
    bool ready_ = false;
    mutable int asks_ = 0;
    std::unique_ptr<ChildProcess> bus_, host_;  // the host ends before its bus
};

// weston with its headless backend and the CPU renderer, so it can take
// screenshots, in a runtime folder of its own.
class Weston {
public:
    Weston() {
        ::chmod(runtime_.path().c_str(), 0700);
        server_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/weston", "--backend=headless-backend.so", "--use-pixman", "--debug",
                                     "--no-config", "--idle-time=0", "--socket=qm-wayland", "--width=1280",
                                     "--height=1024"},
            output_.path() / "weston.txt", ChildEnvironment(Variables()));
        ready_ = WaitUntil([&] { return fs::exists(runtime_.path() / "qm-wayland") || !server_->Alive(); }, 60s) &&
                 server_->Alive();
    }
    bool Ok() const { return ready_; }
    std::string Said() const { return ReadWholeFile(output_.path() / "weston.txt"); }
    // What a client of the compositor needs in its environment, added to `more`.
    std::vector<std::string> Variables(std::vector<std::string> more = {}) const {
        more.push_back("XDG_RUNTIME_DIR=" + runtime_.path().string());
        more.push_back("WAYLAND_DISPLAY=qm-wayland");
        return more;
    }
    // The screen now; a null image when the screenshot failed.
    QImage Screenshot() const {
        const fs::path dir = output_.path() / ("shot" + std::to_string(++shots_));
        fs::create_directories(dir);
        // The screenshooter writes into the folder it runs in.
        ChildProcess({"/bin/sh", "-c", "cd \"$0\" && exec /usr/bin/weston-screenshooter", dir.string()},
                     output_.path() / "screenshooter.txt", ChildEnvironment(Variables()))
            .Exit(60s);
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().extension() == ".png") return QImage(QString::fromStdString(entry.path().string()));
        return {};
    }

private:
    TempDir runtime_{"qm-wl-run"}, output_{"qm-wl"};
    bool ready_ = false;
    mutable int shots_ = 0;
    std::unique_ptr<ChildProcess> server_;
};

int CountColour(const QImage& image, uint32_t rgb) {
    int count = 0;
    const QImage pixels = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < pixels.height(); ++y)
        for (int x = 0; x < pixels.width(); ++x) count += (pixels.pixel(x, y) & 0xFFFFFF) == rgb;
    return count;
}

// The program's home, with one syslog sender to its collector.
class Program {
public:
    Program() {
        home_.Listen(port_);
        home_.StopPinging();
    }
    // Every icon one colour, so a screenshot tells where the program's
    // windows show them.
    void PaintIcons() const {
        const fs::path icons = home_.Home() / "Resource" / "Icons";
        fs::create_directories(icons);
        windows::qt::test::App();
        QImage image(32, 32, QImage::Format_ARGB32);
        image.fill(QColor::fromRgb(kIconColour));
        for (int n = 0; n < 60; ++n) {
            QImageWriter writer(QString::fromStdString((icons / ("icn" + std::to_string(n) + ".ico")).string()), "ico");
            EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
        }
    }
    bool Start(std::vector<std::string> env) {
        env.push_back("HOME=" + dir_.path().string());
        run_ = home_.Start({}, std::move(env));
        return Handshake(sender_, port_, 90s);
    }
    void Send(int from, int to) {
        for (int n = from; n < to; ++n) ASSERT_TRUE(sender_.SendTo(port_, Line(n)));
        ASSERT_TRUE(Handshake(sender_, port_, 10s));
    }
    // An orderly end: status 0, the queued events in log_last.log, the last
    // shutdown step reported.
    void ExpectEndedInOrder(int events) {
        const std::optional<int> code = run_->Exit(60s);
        ASSERT_TRUE(run_->Status()) << Output();
        EXPECT_FALSE(WIFSIGNALED(*run_->Status())) << "ended by signal " << WTERMSIG(*run_->Status()) << Output();
        EXPECT_EQ(code, 0) << Output();
        EXPECT_TRUE(Contains(Output(), "Shutting down ... Complete")) << Output();
        std::multiset<std::string> lines;
        for (const std::string& line : LogLines(home_.Logs() / "log_last.log"))
            if (StartsWith(line, "<14>quillmark desktop test ")) lines.insert(line.substr(0, line.find('|')));
        EXPECT_EQ(lines.size(), size_t(events)) << Output();
        for (int n = 0; n < events; ++n) EXPECT_EQ(lines.count(Line(n)), 1u) << n;
    }
    ChildProcess& Run() { return *run_; }
    std::string Output() const { return "\n" + home_.OutputText(); }

private:
    static std::string Line(int n) { return "<14>quillmark desktop test " + std::to_string(n) + " end"; }

    ProgramHome home_;
    TempDir dir_{"qm-desktop-home"};
    UdpPeer sender_;
    uint16_t port_ = FreePort();
    std::unique_ptr<ChildProcess> run_;
};

const std::vector<std::string> kNewHomeMenu{"Syslog [x]", "Показать график", "  Program", "  Ping", "-",
                                            "Управление службами", "  Запустить", "  Остановить", "Настройки",
                                            "О программе...", "Выход"};

// The tray icon under a StatusNotifier host: its menu is exported with the
// program's texts, filled afresh each time the host is about to show it,
// and its Exit ends the program as the tray's Exit always did.
TEST(StatusNotifierTrayOnX, TheExportedMenuIsCurrentAndItsExitEndsTheProgram) {
    if (!Installed({"/usr/bin/Xvfb", "/usr/bin/dbus-daemon", "/usr/bin/python3", "/usr/bin/xdotool"}) ||
        !HasPythonDbus())
        GTEST_SKIP() << "needs Xvfb, xdotool, dbus-daemon, python3-dbus and python3-gi";
    XDisplay display;
    ASSERT_TRUE(display.Ok()) << display.Problem();
    TrayHost host;
    ASSERT_TRUE(host.Ok()) << host.Said();
    Program p;
    ASSERT_TRUE(p.Start(host.Variables({"DISPLAY=" + display.Name()}))) << p.Output();
    const std::string item = host.Item(60s);
    ASSERT_FALSE(item.empty()) << host.Said() << p.Output();
    EXPECT_FALSE(Contains(p.Output(), "No system tray")) << p.Output();

    std::vector<std::string> shown = host.Ask({"show", item});
    ASSERT_FALSE(shown.empty()) << host.Said();
    EXPECT_EQ(shown[0], "menu /MenuBar");
    EXPECT_EQ(std::vector<std::string>(shown.begin() + 1, shown.end()), kNewHomeMenu);

    // About opens a box the menu had no entry for: it shows in the menu the
    // next time the host opens it.
    ASSERT_EQ(host.Ask({"click", item, "О программе..."}), std::vector<std::string>{"clicked О программе..."});
    EXPECT_TRUE(WaitUntil([&] {
        shown = host.Ask({"show", item});
        return shown.size() > 2 && shown[2] == "О программе... [x]";
    }, 60s)) << ::testing::PrintToString(shown);

    // A left click shows the status note, as in any tray.
    // xdotool prints window ids, and an X error for a window that went meanwhile.
    const auto note = [&] {
        const std::string ids = display.Run({"xdotool", "search", "--onlyvisible", "--name", "^Quillmark$"});
        return std::regex_search(ids, std::regex("(^|\n)\\d+\n"));
    };
    EXPECT_FALSE(note());
    ASSERT_EQ(host.Ask({"activate", item}), std::vector<std::string>{"activated"});
    EXPECT_TRUE(WaitUntil(note, 30s)) << "no status note";

    ASSERT_NO_FATAL_FAILURE(p.Send(0, 10));
    ASSERT_EQ(host.Ask({"click", item, "Выход"}), std::vector<std::string>{"clicked Выход"});
    ASSERT_NO_FATAL_FAILURE(p.ExpectEndedInOrder(10));
    EXPECT_TRUE(WaitUntil([&] { return Contains(host.Said(), "gone " + item); }, 30s)) << host.Said();
}

// Under weston the windows show (the status note stays, as the compositor has
// no tray), and a termination signal ends the program in order. With a
// StatusNotifier host on the session bus the icon exports its menu there too.
TEST(ProgramOnWayland, WindowsShowAndTheProgramEndsInOrder) {
    if (!Installed({"/usr/bin/weston", "/usr/bin/weston-screenshooter"}))
        GTEST_SKIP() << "needs weston (and qt6-wayland for the program)";
    Weston weston;
    ASSERT_TRUE(weston.Ok()) << weston.Said();
    Program p;
    p.PaintIcons();
    ASSERT_TRUE(p.Start(weston.Variables())) << p.Output();
    // The core window comes last at start-up, after the collector answers.
    EXPECT_TRUE(WaitUntil([&] { return Contains(p.Output(), "No system tray"); }, 60s)) << p.Output();
    EXPECT_FALSE(Contains(p.Output(), "drawn off-screen")) << p.Output();
    ASSERT_NO_FATAL_FAILURE(p.Send(0, 20));
    // The note's yellow frame, and the event list's icons in its rows and
    // status bar.
    QImage screen;
    EXPECT_TRUE(WaitUntil([&] {
        screen = weston.Screenshot();
        return CountColour(screen, kNoteAccent) > 1000 && CountColour(screen, kIconColour) > 1000;
    }, 60s)) << "screen " << screen.width() << "x" << screen.height() << ": note " << CountColour(screen, kNoteAccent)
             << ", icons " << CountColour(screen, kIconColour) << p.Output() << weston.Said();
    ASSERT_TRUE(p.Run().Signal(SIGTERM));
    ASSERT_NO_FATAL_FAILURE(p.ExpectEndedInOrder(20));

    if (!Installed({"/usr/bin/dbus-daemon", "/usr/bin/python3"}) || !HasPythonDbus()) return;
    TrayHost host;
    ASSERT_TRUE(host.Ok()) << host.Said();
    Program q;
    ASSERT_TRUE(q.Start(host.Variables(weston.Variables()))) << q.Output();
    const std::string item = host.Item(60s);
    ASSERT_FALSE(item.empty()) << host.Said() << q.Output();
    const std::vector<std::string> shown = host.Ask({"show", item});
    ASSERT_EQ(shown.size(), kNewHomeMenu.size() + 1) << ::testing::PrintToString(shown);
    EXPECT_EQ(shown.back(), "Выход");
    ASSERT_TRUE(q.Run().Signal(SIGTERM));
    ASSERT_NO_FATAL_FAILURE(q.ExpectEndedInOrder(0));
}

}  // namespace
}  // namespace qm::testing
