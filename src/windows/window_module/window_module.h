#pragma once
// The window module (module id 11, section mod_window): the table of tool
// windows (event lists, info boxes, graphs), their common options, their saved
// places and their lifetime. The windows themselves are frames made by a
// WindowSystem; without one (no toolkit) the entries exist without frames.
//
// Locking: the module lock guards the table. Operations from the settings
// dialog, scripts and menus take it by the three-try protocol and fail
// unchanged when it stays busy. Frame events arrive on the GUI thread and
// also only try the lock: a GUI thread must never wait for it, because a
// holder of the lock (loading, Add) may itself be waiting for the GUI thread
// to make a frame. A resize that finds the lock busy stores nothing; a close
// request that finds it busy is refused and the window stays as it is.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/module.h"
#include "core/record_sets.h"
#include "core/record_table.h"
#include "windows/info_content.h"
#include "windows/window_frame.h"
#include "windows/window_module/window_entry.h"
#include "windows/window_module/window_type_settings.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::windows {

// What a menu of windows needs about one entry.
struct WindowSummary {
    size_t index = 0;
    uint64_t uid = 0;
    uint8_t type = kWindowEventList;
    std::string name;
    bool active = false;   // enabled and not being removed
    bool visible = false;  // Param 0x1000
    bool hasFrame = false;
};

class WindowModule : public core::Module, public core::RecordSets, public FrameEvents {
public:
    // `system` may be null; it must outlive the module.
    WindowModule(core::CoreContext& core, WindowSystem* system);
    // Destroys any frames still open (Unload has normally done so, saving first).
    ~WindowModule() override;

    // Reads the table (current or legacy form) and creates every entry's
    // frame. Called with the module lock held, by LoadSection.
    void Load(const core::SettingsSection& section) override;
    // Every live entry, renumbered from 0, with the rectangles last stored.
    void SaveTo(core::SettingsSection& section) override;
    // Saves the section, then destroys the frames in table order, each once
    // its type's workers have let go of it and its type settings are saved.
    void Unload() override;

    // Stores a copy in the first free slot (else at the end), gives it a
    // fresh UID when it has none or one already in use, creates its frame. Nothing at 500 entries or when the
    // lock stays busy.
    std::optional<size_t> AddWindow(WindowEntry entry);
    // Copies the mark, Enable, Name and Param (Type and Rect stay; the UID
    // only when the stored one is 0) and reapplies every common option. A
    // number beyond the table counts an error and changes nothing.
    bool ReplaceWindow(size_t index, const WindowEntry& entry);
    // With the window's own settings (a graph's or an info box's): they are
    // written to the type's section before the window is made, so it opens
    // with them. Nothing when they are not of the entry's type.
    std::optional<size_t> AddWindow(WindowEntry entry, const WindowTypeSettings& settings);
    // The entry as above, then the settings handed to the running window
    // and written to the type's section. Refused, changing nothing, when the
    // entry names another window than the stored one (by UID) or the
    // settings are of another type.
    bool ReplaceWindow(size_t index, const WindowEntry& entry, const WindowTypeSettings& settings);
    // The window's own settings as the running window holds them (changes
    // made in it since the last save included), else as last written;
    // nothing for an event list, a number beyond the table or a lock that
    // stays busy.
    std::optional<WindowTypeSettings> TypeSettings(size_t index);
    // Flips the visible bit and shows or hides the window.
    bool ToggleWindow(size_t index);
    // Gives the content to the first enabled, unmarked info box and brings it
    // up; without one, adds a new info box (enabled, visible, tool frame).
    bool ShowInfoBox(const InfoContent& content);
    // Applies the options named by `mask` (Param bits; 0x0001 the title).
    bool ApplyCommonOptions(size_t index, uint16_t mask);

    // Reads also only try the lock (menus are built on the GUI thread):
    // nothing, 0 or an empty list when it stays busy.
    std::optional<WindowEntry> Entry(size_t index);
    size_t EntryCount();
    // Every entry in table order, for menus.
    std::vector<WindowSummary> Windows();

    // The window table (items only) for editors that know it by field
    // names; adding and replacing go through AddWindow and ReplaceWindow's rules.
    core::RecordSets* Records() override { return this; }
    bool Has(core::RecordSet set) const override { return set == core::RecordSet::Item; }
    std::optional<std::vector<core::RecordCopy>> Copy(core::SetRef set) override;
    core::RecordCopy Blank(core::SetRef set) const override;
    bool Add(core::SetRef set, const core::RecordCopy& record) override;
    bool Replace(core::SetRef set, size_t index, const core::RecordCopy& record,
                 const core::RecordCopy& original) override;

    // FrameEvents, on the GUI thread.
    void FrameResized(uint64_t uid) override;
    bool FrameCloseRequested(uint64_t uid) override;
    void FramePinTick(uint64_t uid) override;

private:
    struct Runtime {
        std::unique_ptr<WindowFrame> frame;
    };
    struct TakenFrame {
        std::unique_ptr<WindowFrame> frame;
        bool live = false;  // its entry is not being removed: its settings are kept
    };

    // The two ways in of AddWindow and ReplaceWindow, with settings or none.
    std::optional<size_t> AddWith(WindowEntry entry, const WindowTypeSettings* settings);
    bool ReplaceWith(size_t index, const WindowEntry& entry, const WindowTypeSettings* settings);

    // Module lock held for all of these.
    bool UidInUse(uint64_t uid, size_t except) const;
    uint64_t FreshUid(uint64_t wanted) const;
    std::optional<size_t> Find(uint64_t uid) const;
    void SetMarked(size_t index, bool marked);
    void ReplaceLocked(size_t index, const WindowEntry& entry);
    std::optional<size_t> AddLocked(WindowEntry entry, std::vector<TakenFrame>& displaced,
                                    const WindowTypeSettings* settings = nullptr);
    // Writes the settings (reported when the file stays unwritten).
    void StoreTypeSettings(uint64_t uid, const WindowTypeSettings& settings);
    void CreateFrame(size_t index);
    void Apply(size_t index, uint16_t mask);
    std::vector<TakenFrame> TakeFrames();

    // Without the lock: waits for each frame's workers, saves its type
    // settings when asked (and its entry is live), ends it.
    void DestroyFrames(std::vector<TakenFrame> frames, bool saveTypeSettings);

    WindowSystem* const system_;
    core::RecordTable<WindowEntry> table_;
    std::vector<Runtime> runtime_;  // parallel to table_
    std::atomic<bool> closing_{false};
};

// For the module catalog.
std::unique_ptr<core::Module> CreateWindowModule(core::CoreContext& core, WindowSystem* system);

}  // namespace qm::windows
