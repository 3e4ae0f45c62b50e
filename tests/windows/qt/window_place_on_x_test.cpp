// The real program under a real X server with a window manager (openbox),
// which frames each window with a title bar: what off-screen drawing cannot
// show. A window's outer place and size must come back the same at every
// start, on screen and in the saved settings.
#include <gtest/gtest.h>

#include <signal.h>

#include <optional>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>

#include "platform/profile_file.h"
#include "support/program_home.h"
#include "support/x_display.h"
#include "windows/window_module/window_entry.h"

namespace qm::windows {

std::ostream& operator<<(std::ostream& out, const Rect& r) {
    return out << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}
void PrintTo(const Rect& r, std::ostream* out) { *out << r; }

namespace {

using namespace std::chrono_literals;
using qm::testing::ChildProcess;
using qm::testing::ProgramHome;
using qm::testing::WaitUntil;
using qm::testing::XDisplay;

Rect SavedRect(const ProgramHome& home) {
    const platform::ProfileFile ini = platform::ProfileFile::Load(home.Settings("mod_window"));
    Rect r;
    if (const auto bytes = ini.ReadStruct("mod_window", "Item.0-Rect", core::BlobCodec<Rect>::kSize))
        core::BlobCodec<Rect>::Decode(bytes->data(), r);
    return r;
}

std::optional<long> Number(const std::string& text, const std::string& label) {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(label + R"(\s*(-?\d+))"))) return std::nullopt;
    return std::stol(m[1]);
}

// The window's outer edges on screen: its client area as xwininfo gives it,
// grown by the frame the window manager reports (left, right, top, bottom).
std::optional<Rect> OuterOnScreen(const XDisplay& x, const std::string& id) {
    const std::string info = x.Run({"xwininfo", "-id", id});
    const auto left = Number(info, "Absolute upper-left X:"), top = Number(info, "Absolute upper-left Y:");
    const auto width = Number(info, "Width:"), height = Number(info, "Height:");
    std::smatch m;
    const std::string extents = x.Run({"xprop", "-id", id, "_NET_FRAME_EXTENTS"});
    if (!left || !top || !width || !height ||
        !std::regex_search(extents, m, std::regex(R"(= (\d+), (\d+), (\d+), (\d+))")))
        return std::nullopt;
    const long l = std::stol(m[1]), r = std::stol(m[2]), t = std::stol(m[3]), b = std::stol(m[4]);
    return Rect{int32_t(*left - l), int32_t(*top - t), int32_t(*left + *width + r), int32_t(*top + *height + b)};
}

TEST(WindowPlaceOnX, AFramedWindowKeepsItsSizeAndPlaceOverRestarts) {
    if (!XDisplay::Installed() || !XDisplay::WindowManagerInstalled() || !XDisplay::XdotoolInstalled())
        GTEST_SKIP() << "needs xvfb, openbox, xdotool and x11-utils";
    XDisplay x(true);
    ASSERT_TRUE(x.Ok());
    ProgramHome home;
    const Rect saved = SavedRect(home);
    ASSERT_GT(saved.Width(), kMinWindowWidth);
    ASSERT_GT(saved.Height(), kMinWindowHeight);
    qm::testing::TempDir out{"qm-place"};

    for (int run = 1; run <= 4; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        ChildProcess program({QM_BINARY}, out.path() / ("run" + std::to_string(run) + ".txt"),
                             x.Environment({"QUILLMARK_HOME=" + home.Home().string()}));
        std::string id;
        ASSERT_TRUE(WaitUntil(
            [&] {
                // A window that goes while xdotool looks (the loading
                // window) makes it print an X error among the ids.
                std::istringstream found(x.Run({"xdotool", "search", "--onlyvisible", "--name", "^Syslog$"}));
                for (std::string line; std::getline(found, line);)
                    if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) id = line;
                return !id.empty();
            },
            60s));
        // Framed by openbox: it reports the frame's extents once it has made it.
        std::optional<Rect> outer;
        EXPECT_TRUE(WaitUntil([&] { return (outer = OuterOnScreen(x, id)) == saved; }, 20s))
            << "on screen " << (outer ? *outer : Rect{}) << ", saved " << saved;
        ASSERT_TRUE(program.Signal(SIGTERM));
        ASSERT_EQ(program.Exit(60s), 0);
        EXPECT_EQ(SavedRect(home), saved);
    }
}

}  // namespace
}  // namespace qm::windows
