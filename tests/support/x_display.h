#pragma once
// A real X server for the tests that need what off-screen drawing cannot
// show: window frames, a window manager's placement, menus, a lost display.
// Xvfb picks a free display number itself; openbox runs on it when asked.
// xdotool drives the mouse and keyboard.
#include <unistd.h>

#include <fstream>
#include <memory>
#include <thread>

#include "support/child_process.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace qm::testing {

class XDisplay {
public:
    static bool Installed() { return ::access("/usr/bin/Xvfb", X_OK) == 0; }
    static bool WindowManagerInstalled() { return ::access("/usr/bin/openbox", X_OK) == 0; }
    static bool XdotoolInstalled() { return ::access("/usr/bin/xdotool", X_OK) == 0; }

    // `windowManager`: start openbox and wait until it manages the screen.
    explicit XDisplay(bool windowManager = false, const std::string& screen = "1280x1024x24") {
        // -noreset: a server resets when its last client leaves, and the
        // reset drops every client still opening its connection. A test's
        // short-lived probes (xprop, xdotool) leave while a slow client
        // (openbox, trayer, the program) opens, which then "cannot open display".
        server_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-noreset", "-screen", "0",
                                     screen},
            dir_.path() / "xvfb.txt");
        WaitUntil([&] { return !(name_ = ReadDisplayName()).empty() || !server_->Alive(); }, std::chrono::seconds(30));
        if (name_.empty()) {
            problem_ = "Xvfb gave no display: " + ReadWholeFile(dir_.path() / "xvfb.txt");
            return;
        }
        ready_ = !windowManager;
        if (windowManager) {
            wm_ = std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/openbox", "--sm-disable"},
                                                 dir_.path() / "openbox.txt", Environment());
            // openbox announces itself on the root window once it manages the screen.
            ready_ = WaitUntil([&] { return !wm_->Alive() || Contains(Run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}), "window id"); },
                               std::chrono::seconds(30)) && wm_->Alive();
            if (!ready_) problem_ = "openbox did not manage " + name_ + ": " + ReadWholeFile(dir_.path() / "openbox.txt");
        }
    }
    ~XDisplay() { Kill(); }
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    bool Ok() const { return ready_ && !name_.empty(); }
    // Why the display is not Ok(): what Xvfb or openbox printed.
    const std::string& Problem() const { return problem_; }
    // ":N"
    const std::string& Name() const { return name_; }
    // A minimal environment for a child on this display.
    std::vector<std::string> Environment(std::vector<std::string> more = {}) const {
        more.push_back("DISPLAY=" + name_);
        more.push_back("HOME=" + dir_.path().string());
        return ChildEnvironment(std::move(more));
    }
    // Runs an X client (xdotool, xprop, xwininfo) to its end and returns what
    // it printed. A wait that probes with X clients would start hundreds a
    // second and take the CPU from the program it waits for: one starts at
    // most every kRunEvery.
    std::string Run(std::vector<std::string> argv) const {
        std::this_thread::sleep_until(lastRun_ + kRunEvery);
        lastRun_ = std::chrono::steady_clock::now();
        const std::filesystem::path out = dir_.path() / ("run" + std::to_string(++runs_) + ".txt");
        ChildProcess(std::move(argv), out, Environment()).Exit(std::chrono::seconds(30));
        const std::string printed = ReadWholeFile(out);
        std::filesystem::remove(out);
        return printed;
    }
    // Ends the X server as a logout would: every client loses its display.
    void Kill() {
        // Ended, not killed, so the server removes its lock file and socket
        // and the next one finds the number free.
        for (std::unique_ptr<ChildProcess>* child : {&wm_, &server_}) {
            if (*child && (*child)->Signal(SIGTERM)) (*child)->Exit(std::chrono::seconds(10));
            child->reset();
        }
    }

private:
    std::string ReadDisplayName() const {
        std::ifstream in(dir_.path() / "xvfb.txt");
        for (std::string line; std::getline(in, line);)
            if (!in.eof() && !line.empty() && line.find_first_not_of("0123456789") == std::string::npos) return ":" + line;
        return {};
    }

    TempDir dir_{"qm-x"};
    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<ChildProcess> wm_;
    std::string name_, problem_;
    bool ready_ = false;
    mutable int runs_ = 0;
    static constexpr std::chrono::milliseconds kRunEvery{25};
    mutable std::chrono::steady_clock::time_point lastRun_;
};

}  // namespace qm::testing
