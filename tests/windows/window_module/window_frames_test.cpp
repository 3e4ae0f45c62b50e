// What the module makes its windows do: first place, common options, close,
// pinning, the info box, and the order of unloading.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "windows/window_module/window_module_test_support.h"

namespace qm::windows::test {
namespace {

using namespace std::chrono_literals;

TEST_F(WindowModuleTest, WindowsOpenAtTheDefaultPlaceWithoutAUsableRectOrOnTheScreens) {
    auto module = Loaded(&system_);
    const Rect saved{100, 50, 900, 650};
    for (const Rect& r : {Rect{}, Rect{100, 50, 200, 60}, saved})
        ASSERT_TRUE(module->AddWindow(Window("w", 0, kWindowInfoBox, r)));
    ASSERT_TRUE(module->AddWindow(Window("gone", 0x1000, kWindowEventList, Rect{2000, 100, 2800, 700})));
    EXPECT_EQ(FrameOf(*module, 0)->request.rect, kDefaultWindowRect);
    EXPECT_EQ(FrameOf(*module, 1)->request.rect, (Rect{100, 50, 600, 350})) << "grown to the minimum";
    EXPECT_EQ(FrameOf(*module, 2)->request.rect, saved);
    EXPECT_EQ(FrameOf(*module, 2)->request.icon, kInfoBoxIcon);
    ASSERT_TRUE(module->SaveSection());

    // A place off the screens opens on them and is saved that way.
    system_.screens = {Rect{0, 0, 1280, 1024}};
    module = Loaded(&system_);
    EXPECT_EQ(FrameOf(*module, 3)->request.rect, (Rect{480, 100, 1280, 700}));
    module->Unload();
    EXPECT_EQ(Loaded(nullptr)->Entry(3)->rect, (Rect{480, 100, 1280, 700}));
}

TEST_F(WindowModuleTest, TheResetOptionShowsEveryEnabledWindowAgainAtTheDefaultPlaceAndThatIsSaved) {
    auto module = Loaded(&system_);
    WindowEntry off = Window("off", 0);
    off.enable = 0;
    ASSERT_EQ(module->AddWindow(Window("closed", 0, kWindowEventList, Rect{100, 50, 900, 650})), 0u);
    ASSERT_EQ(module->AddWindow(off), 1u);
    module->Unload();

    core_.options.windowReset = true;
    module = Loaded(&system_);
    EXPECT_TRUE(FrameOf(*module, 0)->visible) << "a closed window comes back";
    EXPECT_FALSE(FrameOf(*module, 1)->visible) << "a disabled one is never shown";
    EXPECT_EQ(FrameOf(*module, 0)->rect, kDefaultWindowRect);
    EXPECT_EQ(module->Entry(0)->rect, kDefaultWindowRect) << "else a pinned window would go back to the old place";
    module->Unload();

    core_.options.windowReset = false;
    module = Loaded(&system_);
    EXPECT_TRUE(module->Entry(0)->Has(kWindowVisible));
    EXPECT_TRUE(FrameOf(*module, 0)->visible);
    EXPECT_EQ(module->Entry(0)->rect, kDefaultWindowRect);
}

TEST_F(WindowModuleTest, ADisabledWindowIsNeverShownStyledOrTitled) {
    auto module = Loaded(&system_);
    WindowEntry off = Window("off", 0xD000);
    off.enable = 0;
    ASSERT_EQ(module->AddWindow(off), 0u);
    const auto frame = FrameOf(*module, 0);
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

TEST_F(WindowModuleTest, APinnedWindowKeepsItsPlaceAndALooseOneReopensWhereItWasLeft) {
    auto module = Loaded(&system_);
    const Rect home{50, 60, 650, 460}, dragged{300, 300, 1000, 900};
    ASSERT_EQ(module->AddWindow(Window("pinned", 0x3000, kWindowEventList, home)), 0u);
    ASSERT_EQ(module->AddWindow(Window("loose", 0x1000, kWindowEventList, home)), 1u);
    const uint64_t uid = module->Entry(0)->uid;
    const auto frame = system_.Frame(uid);
    frame->events->FramePinTick(uid);
    EXPECT_EQ(frame->moves, 0) << "a window in its place is left alone";
    frame->rect = dragged;
    frame->events->FrameResized(uid);
    EXPECT_EQ(module->Entry(0)->rect, home);
    frame->events->FramePinTick(uid);
    EXPECT_EQ(frame->rect, home);

    // A move reports nothing; the place is taken when the program ends.
    FrameOf(*module, 0)->rect = FrameOf(*module, 1)->rect = dragged;
    module->Unload();
    module = Loaded(&system_);
    EXPECT_EQ(FrameOf(*module, 0)->request.rect, home);
    EXPECT_EQ(FrameOf(*module, 1)->request.rect, dragged);

    // Unpinned, a resize is the new place, unless the window is minimised.
    const auto unpinned = FrameOf(*module, 0);
    ASSERT_TRUE(module->ReplaceWindow(0, Window("unpinned", 0x1000)));
    unpinned->rect = Rect{10, 10, 900, 900};
    unpinned->events->FrameResized(uid);
    unpinned->events->FramePinTick(uid);
    EXPECT_EQ(unpinned->rect, (Rect{10, 10, 900, 900}));
    EXPECT_EQ(module->Entry(0)->rect, (Rect{10, 10, 900, 900}));
    unpinned->minimized = true;
    unpinned->rect = Rect{-32000, -32000, -31840, -31970};
    unpinned->events->FrameResized(uid);
    ASSERT_TRUE(module->ApplyCommonOptions(0, kWindowPinned));
    EXPECT_EQ(module->Entry(0)->rect, (Rect{10, 10, 900, 900}));
}

TEST_F(WindowModuleTest, AnInfoBoxIsShownAndReusedUnlessDisabledOrRemoved) {
    auto module = Loaded(&system_);
    WindowEntry disabled = Window("disabled", 0x1000, kWindowInfoBox);
    disabled.enable = 0;
    ASSERT_EQ(module->AddWindow(disabled), 0u);
    ASSERT_EQ(module->AddWindow(Window("removed", 0x1000, kWindowInfoBox)), 1u);
    const uint64_t removedUid = module->Entry(1)->uid;
    Remove(*module, 1);

    InfoContent content;
    content.title = "first";
    ASSERT_TRUE(module->ShowInfoBox(content));
    EXPECT_TRUE(FrameOf(*module, 0)->contentTitles.empty());
    EXPECT_TRUE(system_.Frame(removedUid)->contentTitles.empty());
    // A new window in the removed one's slot.
    const WindowEntry e = *module->Entry(1);
    EXPECT_NE(e.uid, removedUid);
    EXPECT_EQ(std::tie(e.type, e.enable, e.param), std::tuple(kWindowInfoBox, 1, 0x9000));
    const auto frame = system_.Frame(e.uid);
    EXPECT_TRUE(frame->visible);
    EXPECT_FALSE(frame->events->FrameCloseRequested(e.uid));

    content.title = "second";
    ASSERT_TRUE(module->ShowInfoBox(content));
    EXPECT_EQ(module->EntryCount(), 2u);
    EXPECT_EQ(system_.Made(), 3u);
    EXPECT_TRUE(frame->visible);
    EXPECT_EQ(frame->contentTitles, (std::vector<std::string>{"first", "second"}));
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
    EXPECT_EQ(Loaded(nullptr)->Entry(0)->rect, (Rect{5, 5, 805, 605}));
}

}  // namespace
}  // namespace qm::windows::test
