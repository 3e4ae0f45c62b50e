// The built program on a real X server: a termination signal while a
// context menu is open, and the X server going away, both end (or go on)
// in order: the queued events reach log_last.log and every module's
// settings file is written.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <set>

#include "support/x_display.h"
#include "transport/transport_test_support.h"

namespace qm::testing {
namespace {

// The program's home, its X server and one syslog sender.
class ProgramOnDisplay {
public:
    ProgramOnDisplay() {
        home_.Listen(port_);
        // Written before the run, so a save at its end shows in the times.
        for (const auto& entry : fs::directory_iterator(home_.Home() / "Settings"))
            fs::last_write_time(entry.path(), fs::file_time_type::clock::now() - std::chrono::hours(48));
    }

    // `elsewhere`: the display named to the program instead of this one.
    bool Start(const std::string& elsewhere = {}) {
        if (!display_.Ok()) return false;
        std::vector<std::string> env = display_.Environment({"QUILLMARK_HOME=" + home_.Home().string()});
        if (!elsewhere.empty()) std::replace(env.begin(), env.end(), "DISPLAY=" + display_.Name(), "DISPLAY=" + elsewhere);
        run_ = std::make_unique<ChildProcess>(std::vector<std::string>{QM_BINARY}, output_.path() / "output.txt", env);
        return Handshake(sender_, port_, 30s);
    }
    void Send(int from, int to) {
        for (int n = from; n < to; ++n) ASSERT_TRUE(sender_.SendTo(port_, Line(n)));
        ASSERT_TRUE(Handshake(sender_, port_, 10s));
    }
    // The X window of the default event list once it is shown.
    std::string ListWindow() {
        std::string id;
        WaitUntil([&] { return !(id = FirstLine(display_.Run({"xdotool", "search", "--onlyvisible", "--name", "^Syslog$"}))).empty(); },
                  90s);  // the window module loads last; a sanitizer build on a busy machine is slow
        return id;
    }
    // Right-clicks a point of a window (relative to it) and waits for the menu.
    bool OpenMenu(const std::string& window, int x, int y) {
        display_.Run({"xdotool", "mousemove", "--window", window, std::to_string(x), std::to_string(y), "click", "3"});
        return WaitUntil([&] { return MenuShown(); }, 20s);
    }
    // A menu is the program's only shown window that bypasses the window manager.
    bool MenuShown() {
        std::istringstream ids(display_.Run({"xdotool", "search", "--onlyvisible", "--class", "quillmark"}));
        for (std::string id; std::getline(ids, id);)
            if (Contains(display_.Run({"xwininfo", "-id", id}), "Override Redirect State: yes")) return true;
        return false;
    }
    // A shown window of the program besides `known` that is not a menu (the
    // titles are not ASCII, and the X tools run here without a locale).
    // The status note, shown for good without a tray, is not one of them.
    std::string OtherWindow(const std::string& known) {
        const std::string note = display_.Run({"xdotool", "search", "--onlyvisible", "--name", "^Quillmark$"});
        std::istringstream ids(display_.Run({"xdotool", "search", "--onlyvisible", "--class", "quillmark"}));
        for (std::string id; std::getline(ids, id);)
            if (id != known && !Contains(note, id) && !Contains(display_.Run({"xwininfo", "-id", id}), "Override Redirect State: yes"))
                return id;
        return {};
    }

    // The numbered lines from..to-1 are in log_last.log, each once.
    void ExpectLogged(int from, int to) const {
        std::multiset<std::string> lines;
        for (const std::string& line : LogLines(home_.Logs() / "log_last.log"))
            if (StartsWith(line, "<14>quillmark window test ")) lines.insert(line.substr(0, line.find('|')));
        EXPECT_EQ(lines.size(), size_t(to - from)) << Output();
        for (int n = from; n < to; ++n) EXPECT_EQ(lines.count(Line(n)), 1u) << n;
    }
    // Every module's settings file and the core's written at the end.
    void ExpectSettingsSaved() const {
        for (const char* file : {"Core", "mod_rules", "mod_dns", "mod_dbase", "mod_collector", "mod_relay",
                                 "mod_httpserver", "mod_window"}) {
            const fs::path path = home_.Settings(file);
            ASSERT_TRUE(fs::exists(path)) << path;
            EXPECT_GT(fs::last_write_time(path), fs::file_time_type::clock::now() - std::chrono::hours(1)) << path << " not saved";
        }
    }

    XDisplay& Display() { return display_; }
    ChildProcess& Run() { return *run_; }
    std::string Output() const { return ReadWholeFile(output_.path() / "output.txt"); }
    // What the program printed and what the X server holds, for a failure.
    std::string Diagnosis() {
        return Output() + "\n-- windows on the display:\n" + display_.Run({"xwininfo", "-root", "-tree"}) +
               "\n-- program alive: " + (run_ && run_->Alive() ? "yes" : "no");
    }

private:
    static std::string Line(int n) { return "<14>quillmark window test " + std::to_string(n) + " end"; }
    static std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

    XDisplay display_;
    ProgramHome home_;
    TempDir output_{"qm-display-run"};
    UdpPeer sender_;
    uint16_t port_ = FreePort();
    std::unique_ptr<ChildProcess> run_;
};

bool ToolsInstalled() { return XDisplay::Installed() && XDisplay::XdotoolInstalled() && ::access("/usr/bin/xwininfo", X_OK) == 0; }

TEST(ProgramOnDisplay, ASignalWhileAContextMenuIsOpenEndsInOrder) {
    if (!ToolsInstalled()) GTEST_SKIP() << "needs Xvfb, xdotool and xwininfo (Debian xvfb, xdotool, x11-utils)";
    // The event list's menu, then the info box's (opened by a double click
    // on a row, as "Подробно..." does).
    for (const bool infoBox : {false, true}) {
        SCOPED_TRACE(infoBox ? "info box menu" : "event list menu");
        ProgramOnDisplay p;
        ASSERT_TRUE(p.Start()) << p.Output();
        ASSERT_NO_FATAL_FAILURE(p.Send(0, 20));
        std::string window = p.ListWindow();
        ASSERT_FALSE(window.empty()) << p.Diagnosis();
        if (infoBox) {
            // The rows fill within the list's one-second timer.
            std::string box;
            ASSERT_TRUE(WaitUntil(
                [&] {
                    p.Display().Run({"xdotool", "mousemove", "--window", window, "150", "45", "click", "--repeat", "2", "1"});
                    box = p.OtherWindow(window);
                    return !box.empty();
                },
                30s))
                << p.Output();
            window = box;
        }
        ASSERT_TRUE(p.OpenMenu(window, 150, 60)) << p.Output();
        ASSERT_TRUE(p.Run().Signal(SIGTERM));
        const std::optional<int> code = p.Run().Exit(60s);
        ASSERT_TRUE(p.Run().Status());
        EXPECT_FALSE(WIFSIGNALED(*p.Run().Status())) << "ended by signal " << WTERMSIG(*p.Run().Status()) << "\n" << p.Output();
        EXPECT_EQ(code, 0) << p.Output();
        p.ExpectLogged(0, 20);
        p.ExpectSettingsSaved();
    }
}

TEST(ProgramOnDisplay, LosingTheDisplayLosesNoEventsAndNoSettings) {
    if (!ToolsInstalled()) GTEST_SKIP() << "needs Xvfb, xdotool and xwininfo (Debian xvfb, xdotool, x11-utils)";
    ProgramOnDisplay p;
    ASSERT_TRUE(p.Start()) << p.Output();
    ASSERT_NO_FATAL_FAILURE(p.Send(0, 20));
    ASSERT_FALSE(p.ListWindow().empty()) << p.Diagnosis();

    p.Display().Kill();
    ASSERT_TRUE(WaitUntil([&] { return Contains(p.Output(), "The display is gone") || !p.Run().Alive(); }, 30s))
        << p.Output();
    // The program goes on without its windows: it still takes events.
    ASSERT_TRUE(p.Run().Alive()) << p.Output();
    ASSERT_NO_FATAL_FAILURE(p.Send(20, 40));

    ASSERT_TRUE(p.Run().Signal(SIGTERM));
    EXPECT_EQ(p.Run().Exit(60s), 0) << p.Output();
    p.ExpectLogged(0, 40);
    p.ExpectSettingsSaved();
}

// A display that is named but cannot be reached at start (a stale DISPLAY
// over ssh) does not end the program: it runs with off-screen windows.
TEST(ProgramOnDisplay, AnUnreachableDisplayAtStartMeansOffScreenWindows) {
    if (!ToolsInstalled()) GTEST_SKIP() << "needs Xvfb, xdotool and xwininfo (Debian xvfb, xdotool, x11-utils)";
    ProgramOnDisplay p;
    ASSERT_TRUE(p.Start(":4321")) << p.Output();  // Xvfb picks the lowest free numbers
    ASSERT_NO_FATAL_FAILURE(p.Send(0, 10));
    EXPECT_TRUE(Contains(p.Output(), "The display :4321 cannot be reached: the windows are drawn off-screen")) << p.Output();
    ASSERT_TRUE(p.Run().Signal(SIGTERM));
    EXPECT_EQ(p.Run().Exit(60s), 0) << p.Output();
    p.ExpectLogged(0, 10);
    p.ExpectSettingsSaved();
}

}  // namespace
}  // namespace qm::testing
