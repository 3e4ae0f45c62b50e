// What the module makes its windows do: first place, common options, close,
// pinning, the info box, and the order of unloading.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "windows/window_module/window_module_test_support.h"

namespace qm::windows::test {
namespace {

using namespace std::chrono_literals;

TEST_F(WindowModuleTest, WindowsOpenAtTheDefaultPlaceWithoutAUsableRectOrWhenReset) {
    auto module = Loaded(&system_);
    const Rect zero{}, small{100, 50, 200, 60}, saved{100, 50, 900, 650};
    for (const Rect& r : {zero, small, saved}) ASSERT_TRUE(module->AddWindow(Window("w", 0, kWindowInfoBox, r)));
    EXPECT_EQ(system_.Frame(module->Entry(0)->uid)->request.rect, kDefaultWindowRect);
    EXPECT_EQ(system_.Frame(module->Entry(1)->uid)->request.rect, (Rect{100, 50, 600, 350})) << "grown to the minimum";
    EXPECT_EQ(system_.Frame(module->Entry(2)->uid)->request.rect, saved);
    EXPECT_EQ(system_.Frame(module->Entry(2)->uid)->request.icon, kInfoBoxIcon);
    ASSERT_TRUE(module->SaveSection());

    core_.options.windowReset = true;
    module = Loaded(&system_);
    EXPECT_EQ(system_.Frame(module->Entry(2)->uid)->rect, kDefaultWindowRect);
    EXPECT_EQ(module->Entry(2)->rect, kDefaultWindowRect) << "else a pinned window would go back to the old place";
}

TEST_F(WindowModuleTest, TheResetOptionShowsEveryEnabledWindowAgainAndThatIsSaved) {
    auto module = Loaded(&system_);
    WindowEntry off = Window("off", 0);
    off.enable = 0;
    ASSERT_EQ(module->AddWindow(Window("closed", 0)), 0u);
    ASSERT_EQ(module->AddWindow(off), 1u);
    module->Unload();

    core_.options.windowReset = true;
    module = Loaded(&system_);
    EXPECT_TRUE(system_.Frame(module->Entry(0)->uid)->visible) << "a closed window comes back";
    EXPECT_FALSE(system_.Frame(module->Entry(1)->uid)->visible) << "a disabled one is never shown";
    module->Unload();

    core_.options.windowReset = false;
    module = Loaded(&system_);
    EXPECT_TRUE(module->Entry(0)->Has(kWindowVisible));
    EXPECT_TRUE(system_.Frame(module->Entry(0)->uid)->visible);
}

TEST_F(WindowModuleTest, APlaceOffTheScreensOpensOnThemAndIsSavedThatWay) {
    auto module = Loaded(&system_);
    ASSERT_TRUE(module->AddWindow(Window("huge", 0x1000, kWindowEventList, Rect{0, 0, 60000, 60000})));
    ASSERT_TRUE(module->AddWindow(Window("gone", 0x1000, kWindowEventList, Rect{2000, 100, 2800, 700})));
    ASSERT_TRUE(module->SaveSection());

    system_.screens = {Rect{0, 0, 1280, 1024}};
    module = Loaded(&system_);
    EXPECT_EQ(system_.Frame(module->Entry(0)->uid)->request.rect, (Rect{0, 0, 1280, 1024}));
    EXPECT_EQ(system_.Frame(module->Entry(1)->uid)->request.rect, (Rect{480, 100, 1280, 700}));
    module->Unload();
    module = Loaded(nullptr);
    EXPECT_EQ(module->Entry(0)->rect, (Rect{0, 0, 1280, 1024})) << "the file no longer holds the giant";
    EXPECT_EQ(module->Entry(1)->rect, (Rect{480, 100, 1280, 700}));
}

TEST_F(WindowModuleTest, ADisabledWindowIsNeverShownStyledOrTitled) {
    auto module = Loaded(&system_);
    WindowEntry off = Window("off", 0xD000);
    off.enable = 0;
    ASSERT_EQ(module->AddWindow(off), 0u);
    const auto frame = system_.Frame(module->Entry(0)->uid);
    ASSERT_TRUE(module->ToggleWindow(0));
    ASSERT_TRUE(module->ToggleWindow(0));
    ASSERT_TRUE(module->ApplyCommonOptions(0, kApplyAllOptions));
    EXPECT_EQ(frame->shows, 0);
    EXPECT_FALSE(frame->title || frame->onTop || frame->toolFrame);

    off.enable = 1;
    ASSERT_TRUE(module->ReplaceWindow(0, off));
    EXPECT_TRUE(frame->visible);
    EXPECT_EQ(frame->title, "off");
    ASSERT_TRUE(module->ToggleWindow(0));
    EXPECT_FALSE(frame->visible);
}

TEST_F(WindowModuleTest, ClosingHidesAndTheWindowStaysHiddenAtTheNextStart) {
    auto module = Loaded(&system_);
    ASSERT_EQ(module->AddWindow(Window("w", 0x1000)), 0u);
    const uint64_t uid = module->Entry(0)->uid;
    const auto frame = system_.Frame(uid);
    ASSERT_TRUE(frame->visible);
    EXPECT_FALSE(frame->events->FrameCloseRequested(uid)) << "the user's close only hides";
    EXPECT_FALSE(frame->visible);
    EXPECT_FALSE(module->Entry(0)->Has(kWindowVisible));
    module->Unload();

    module = Loaded(&system_);
    EXPECT_EQ(system_.Made(), 2u);
    EXPECT_EQ(system_.Frame(uid)->shows, 0);
}

TEST_F(WindowModuleTest, AWindowOnlyMovedReopensWhereItWasLeftUnlessPinned) {
    auto module = Loaded(&system_);
    const Rect home{50, 60, 650, 460}, moved{200, 150, 800, 550};
    ASSERT_EQ(module->AddWindow(Window("loose", 0x1000, kWindowEventList, home)), 0u);
    ASSERT_EQ(module->AddWindow(Window("pinned", 0x3000, kWindowEventList, home)), 1u);
    const uint64_t loose = module->Entry(0)->uid, pinned = module->Entry(1)->uid;
    // A move reports nothing; the place is taken when the program ends.
    system_.Frame(loose)->rect = moved;
    system_.Frame(pinned)->rect = moved;
    module->Unload();

    module = Loaded(&system_);
    EXPECT_EQ(system_.Frame(loose)->request.rect, moved);
    EXPECT_EQ(system_.Frame(pinned)->request.rect, home);
}

TEST_F(WindowModuleTest, APinnedWindowIsMovedBackByTheTickAndItsRectIsNotChangedByADrag) {
    auto module = Loaded(&system_);
    const Rect home{50, 60, 650, 460}, dragged{300, 300, 1000, 900};
    ASSERT_EQ(module->AddWindow(Window("pinned", 0x3000, kWindowEventList, home)), 0u);
    const uint64_t uid = module->Entry(0)->uid;
    const auto frame = system_.Frame(uid);
    frame->events->FramePinTick(uid);
    EXPECT_EQ(frame->moves, 0) << "a window in its place is left alone";

    frame->rect = dragged;
    frame->events->FrameResized(uid);
    EXPECT_EQ(module->Entry(0)->rect, home);
    frame->events->FramePinTick(uid);
    EXPECT_EQ(frame->rect, home);

    // Unpinned, a resize is the new place, unless the window is minimised.
    ASSERT_TRUE(module->ReplaceWindow(0, Window("loose", 0x1000)));
    frame->rect = dragged;
    frame->events->FrameResized(uid);
    frame->events->FramePinTick(uid);
    EXPECT_EQ(frame->rect, dragged);
    EXPECT_EQ(module->Entry(0)->rect, dragged);
    frame->minimized = true;
    frame->rect = Rect{-32000, -32000, -31840, -31970};
    frame->events->FrameResized(uid);
    ASSERT_TRUE(module->ApplyCommonOptions(0, kWindowPinned));
    EXPECT_EQ(module->Entry(0)->rect, dragged);
}

TEST_F(WindowModuleTest, ShowingAnInfoBoxTwiceReusesOneWindow) {
    auto module = Loaded(&system_);
    InfoContent content;
    content.title = "first";
    ASSERT_TRUE(module->ShowInfoBox(content));
    const WindowEntry e = *module->Entry(0);
    EXPECT_EQ(std::tie(e.type, e.enable, e.param), std::tuple(kWindowInfoBox, 1, 0x9000));
    const auto frame = system_.Frame(e.uid);
    EXPECT_TRUE(frame->visible);
    EXPECT_FALSE(frame->events->FrameCloseRequested(e.uid));

    content.title = "second";
    ASSERT_TRUE(module->ShowInfoBox(content));
    EXPECT_EQ(module->EntryCount(), 1u);
    EXPECT_EQ(system_.Made(), 1u);
    EXPECT_TRUE(frame->visible);
    EXPECT_EQ(frame->contentTitles, (std::vector<std::string>{"first", "second"}));
}

TEST_F(WindowModuleTest, ADisabledOrRemovedInfoBoxIsNotReused) {
    auto module = Loaded(&system_);
    WindowEntry disabled = Window("disabled", 0x1000, kWindowInfoBox);
    disabled.enable = 0;
    ASSERT_EQ(module->AddWindow(disabled), 0u);
    ASSERT_EQ(module->AddWindow(Window("removed", 0x1000, kWindowInfoBox)), 1u);
    const uint64_t removedUid = module->Entry(1)->uid;
    Remove(*module, 1);

    InfoContent content;
    content.title = "details";
    ASSERT_TRUE(module->ShowInfoBox(content));
    EXPECT_TRUE(system_.Frame(module->Entry(0)->uid)->contentTitles.empty());
    EXPECT_TRUE(system_.Frame(removedUid)->contentTitles.empty());
    const auto shown = system_.Frame(module->Entry(1)->uid);  // a new window in the removed one's slot
    EXPECT_NE(module->Entry(1)->uid, removedUid);
    EXPECT_TRUE(shown->visible);
    EXPECT_EQ(shown->contentTitles, std::vector<std::string>{"details"});
}

TEST_F(WindowModuleTest, AWindowThatCannotBeMadeCountsAnErrorAndKeepsItsEntry) {
    auto module = Loaded(&system_);
    system_.refuse = true;
    const uint64_t errors = core_.counters.errors;
    ASSERT_EQ(module->AddWindow(Window("w", 0x1000)), 0u);
    EXPECT_EQ(core_.counters.errors, errors + 1);
    EXPECT_FALSE(module->Windows()[0].hasFrame);
    EXPECT_EQ(core_.counters.windows, 0u);
}

TEST_F(WindowModuleTest, UnloadSavesFirstThenWaitsForBusyWorkersBeforeEndingEachWindow) {
    auto module = Loaded(&system_);
    ASSERT_EQ(module->AddWindow(Window("busy", 0x1000, kWindowEventList, Rect{0, 0, 600, 400})), 0u);
    const uint64_t uid = module->Entry(0)->uid;
    const auto frame = system_.Frame(uid);
    frame->rect = Rect{5, 5, 805, 605};
    frame->events->FrameResized(uid);
    frame->busy = 2;
    std::thread workers([&] {
        std::this_thread::sleep_for(100ms);
        frame->busy = 1;
        std::this_thread::sleep_for(100ms);
        frame->busy = 0;
    });
    module->Unload();
    workers.join();
    EXPECT_TRUE(frame->destroyed);
    EXPECT_EQ(frame->busyAtDestruction, 0u);
    EXPECT_EQ(frame->typeSavesAtDestruction, 1);
    EXPECT_EQ(core_.counters.windows, 0u);
    EXPECT_TRUE(frame->events->FrameCloseRequested(uid)) << "during shutdown a close lets the frame go";

    module = Loaded(nullptr);
    EXPECT_EQ(module->Entry(0)->rect, (Rect{5, 5, 805, 605}));
}

}  // namespace
}  // namespace qm::windows::test
