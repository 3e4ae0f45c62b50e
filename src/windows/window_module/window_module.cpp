#include "windows/window_module/window_module.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <limits>
#include <utility>

#include "core/core_context.h"
#include "core/settings_fields.h"
#include "platform/guarded_lock.h"

namespace qm::windows {

using platform::Blocking;
using platform::GuardedLock;

namespace {
constexpr const char* kSection = "mod_window";
constexpr size_t kNoIndex = std::numeric_limits<size_t>::max();
constexpr unsigned kBusyPollMs = 10;

std::string ItemPrefix(size_t number) { return "Item." + std::to_string(number) + "-"; }
}  // namespace

std::unique_ptr<core::Module> CreateWindowModule(core::CoreContext& core, WindowSystem* system) {
    return std::make_unique<WindowModule>(core, system);
}

WindowModule::WindowModule(core::CoreContext& core, WindowSystem* system)
    : Module(core, core::kModuleWindow, kSection), system_(system) {}

WindowModule::~WindowModule() {
    closing_ = true;
    std::vector<TakenFrame> frames;
    {
        GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
        frames = TakeFrames();
    }
    DestroyFrames(std::move(frames), false);
}

void WindowModule::Load(const core::SettingsSection& section) {
    std::vector<TakenFrame> previous = TakeFrames();
    table_.Clear();
    runtime_.clear();

    const platform::ProfileFile& file = section.File();
    const std::string& name = section.Name();
    if (section.IsCurrentForm()) {
        const size_t count = core::ReadRecordCount(file, name, "ItemCount");
        for (size_t i = 0; i < count; ++i) {
            const std::string prefix = ItemPrefix(i);
            // Without its type there is no telling what window to make.
            if (!file.ReadStruct(name, prefix + "Type", 1)) continue;
            WindowEntry entry;
            core::LoadRecord(file, name, prefix, WindowEntry::Fields(), entry);
            table_.Add(entry);
        }
    } else {
        const size_t count = file.ReadStruct(name, "ItemCount", 4) ? core::ReadRecordCount(file, name, "ItemCount")
                                                                    : core::ReadLegacyCount(file, name, "Count");
        for (size_t i = 0; i < count; ++i) {
            const auto bytes = file.ReadStruct(name, "Item." + std::to_string(i), kLegacyWindowEntrySize);
            if (!bytes) continue;
            WindowEntry entry;
            core::DecodeLegacyRecord(*bytes, WindowEntry::Fields(), entry);
            table_.Add(entry);
        }
    }
    runtime_.resize(table_.size());

    // Frame events and type settings find a window by its UID, so a stored 0
    // or a UID that an earlier entry already has gets a fresh one.
    // The first holder of a UID keeps it, and with it its type settings.
    for (auto& slot : table_) FitToCapacity(slot.record);
    core::MendIds(table_, &WindowEntry::uid, core_.SecondsSinceEpoch());
    // Until the tray can bring a closed window back, the reset option is the
    // way back: every enabled window reopens shown (and stays so, as its
    // reset place does).
    if (core_.options.windowReset) {
        for (size_t i = 0; i < table_.size(); ++i)
            if (table_[i].record.enable != 0) table_[i].record.param |= kWindowVisible;
    }
    for (size_t i = 0; i < table_.size(); ++i) CreateFrame(i);

    DestroyFrames(std::move(previous), false);
}

void WindowModule::SaveTo(core::SettingsSection& section) {
    platform::ProfileFile& file = section.File();
    const std::string& name = section.Name();
    core::WriteRecordCount(file, name, "ItemCount", table_.LiveCount());
    table_.ForEachLive([&](size_t number, const WindowEntry& entry) {
        core::SaveRecord(file, name, ItemPrefix(number), WindowEntry::Fields(), entry);
    });
}

void WindowModule::Unload() {
    // Only size changes store a window's rectangle as the user works; a
    // window that was merely moved would otherwise reopen where it was
    // before. Shown, unpinned windows take their place now, as applying the
    // rectangle option would; the file is then written before any window goes.
    {
        GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
        for (size_t i = 0; i < runtime_.size(); ++i) {
            WindowFrame* frame = runtime_[i].frame.get();
            WindowEntry& entry = table_[i].record;
            if (frame && !table_[i].deleted && !entry.Has(kWindowPinned) && frame->IsVisible() && !frame->IsMinimized())
                entry.rect = frame->OuterRect();
        }
    }
    SaveSection();
    closing_ = true;
    std::vector<TakenFrame> frames;
    {
        GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
        frames = TakeFrames();
    }
    DestroyFrames(std::move(frames), true);
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
    table_.Clear();
    runtime_.clear();
}

std::optional<size_t> WindowModule::AddWindow(WindowEntry entry) { return AddWith(std::move(entry), nullptr); }

std::optional<size_t> WindowModule::AddWindow(WindowEntry entry, const WindowTypeSettings& given) {
    if (given.Type() != entry.type) return std::nullopt;
    WindowTypeSettings settings = given;
    ClampWindowTypeSettings(settings, core_.dotsPerInch);
    return AddWith(std::move(entry), &settings);
}

std::optional<size_t> WindowModule::AddWith(WindowEntry entry, const WindowTypeSettings* settings) {
    FitToCapacity(entry);
    std::vector<TakenFrame> displaced;
    std::optional<size_t> index;
    {
        GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
        if (!lock) return std::nullopt;
        index = AddLocked(std::move(entry), displaced, settings);
    }
    DestroyFrames(std::move(displaced), false);
    return index;
}

bool WindowModule::ReplaceWindow(size_t index, const WindowEntry& given, const WindowTypeSettings& givenSettings) {
    WindowTypeSettings settings = givenSettings;
    ClampWindowTypeSettings(settings, core_.dotsPerInch);
    return ReplaceWith(index, given, &settings);
}

std::optional<WindowTypeSettings> WindowModule::TypeSettings(size_t index) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock || index >= table_.size() || !core_.config) return std::nullopt;
    const WindowEntry& entry = table_[index].record;
    // A running window may have changed them since they were written (an
    // info box zoomed): a form that showed the file would put that back.
    if (const WindowFrame* frame = index < runtime_.size() ? runtime_[index].frame.get() : nullptr) {
        WindowTypeSettings live;
        if (frame->CurrentTypeSettings(live) && live.Type() == entry.type) return live;
    }
    return LoadWindowTypeSettings(*core_.config, entry.type, entry.uid, core_.dotsPerInch);
}

bool WindowModule::ReplaceWindow(size_t index, const WindowEntry& given) { return ReplaceWith(index, given, nullptr); }

bool WindowModule::ReplaceWith(size_t index, const WindowEntry& given, const WindowTypeSettings* settings) {
    WindowEntry entry = given;
    FitToCapacity(entry);
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock) return false;
    if (index >= table_.size()) {
        core_.counters.errors.fetch_add(1);
        return false;
    }
    const WindowEntry& stored = table_[index].record;
    // The dialog's copy may be older than the table: a slot reused by
    // another window meanwhile must not get this one's settings.
    if (settings && (stored.uid != entry.uid || stored.type != settings->Type())) return false;
    ReplaceLocked(index, entry);
    if (!settings) return true;
    StoreTypeSettings(stored.uid, *settings);
    if (WindowFrame* frame = runtime_[index].frame.get()) frame->ApplyTypeSettings(*settings);
    return true;
}

void WindowModule::ReplaceLocked(size_t index, const WindowEntry& entry) {
    WindowEntry& stored = table_[index].record;
    stored.enable = entry.enable;
    stored.name = entry.name;
    stored.param = entry.param;
    if (stored.uid == 0) stored.uid = entry.uid != 0 && !UidInUse(entry.uid, index) ? entry.uid : FreshUid(core_.SecondsSinceEpoch());
    SetMarked(index, entry.marked);
    Apply(index, kApplyAllOptions);
}

std::optional<std::vector<core::RecordCopy>> WindowModule::Copy(core::SetRef set) {
    if (set.set != core::RecordSet::Item) return std::nullopt;
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock) return std::nullopt;
    return core::CopySlots(table_);
}

core::RecordCopy WindowModule::Blank(core::SetRef) const {
    core::RecordCopy blank = core::RecordCopy::Of(WindowEntry{});
    blank.Zero();
    return blank;
}

bool WindowModule::Add(core::SetRef set, const core::RecordCopy& record) {
    if (set.set != core::RecordSet::Item || !record.Holds<WindowEntry>() || record.deleted) return false;
    return AddWindow(record.As<WindowEntry>()).has_value();
}

bool WindowModule::Replace(core::SetRef set, size_t index, const core::RecordCopy& record,
                           const core::RecordCopy& original) {
    if (set.set != core::RecordSet::Item || !record.Holds<WindowEntry>()) return false;
    WindowEntry entry = record.As<WindowEntry>();
    entry.marked = record.deleted;
    FitToCapacity(entry);
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock || !core::SlotHolds(table_, index, original)) return false;
    ReplaceLocked(index, entry);
    return true;
}

bool WindowModule::ToggleWindow(size_t index) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock || index >= table_.size()) return false;
    table_[index].record.param ^= kWindowVisible;
    Apply(index, kWindowVisible);
    return true;
}

bool WindowModule::ShowInfoBox(const InfoContent& content) {
    std::vector<TakenFrame> displaced;
    bool shown = false;
    {
        GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
        if (!lock) return false;
        // Only an info box that may be shown is reused; a disabled or removed
        // one would take the content and never show it.
        for (size_t i = 0; i < table_.size() && !shown; ++i) {
            WindowEntry& entry = table_[i].record;
            if (entry.type != kWindowInfoBox || !entry.Active()) continue;
            entry.param |= kWindowVisible;
            if (WindowFrame* frame = runtime_[i].frame.get()) frame->ShowContent(content);
            Apply(i, kWindowVisible);
            shown = true;
        }
        if (!shown) {
            WindowEntry entry;
            entry.enable = 1;
            entry.type = kWindowInfoBox;
            entry.param = kWindowVisible | kWindowToolFrame;
            if (const auto index = AddLocked(std::move(entry), displaced)) {
                // After the common options, as the type's own content sets the title.
                if (WindowFrame* frame = runtime_[*index].frame.get()) frame->ShowContent(content);
                shown = true;
            }
        }
    }
    DestroyFrames(std::move(displaced), false);
    return shown;
}

bool WindowModule::ApplyCommonOptions(size_t index, uint16_t mask) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock || index >= table_.size()) return false;
    Apply(index, mask);
    return true;
}

std::optional<WindowEntry> WindowModule::Entry(size_t index) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock || index >= table_.size()) return std::nullopt;
    return table_[index].record;
}

size_t WindowModule::EntryCount() {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    return lock ? table_.size() : 0;
}

std::vector<WindowSummary> WindowModule::Windows() {
    std::vector<WindowSummary> out;
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock) return out;
    for (size_t i = 0; i < table_.size(); ++i) {
        const WindowEntry& e = table_[i].record;
        out.push_back(WindowSummary{i, e.uid, e.type, e.name, e.Active(), e.Has(kWindowVisible), runtime_[i].frame != nullptr});
    }
    return out;
}

void WindowModule::FrameResized(uint64_t uid) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock) return;
    const auto index = Find(uid);
    if (!index) return;
    WindowFrame* frame = runtime_[*index].frame.get();
    WindowEntry& entry = table_[*index].record;
    if (!frame || frame->IsMinimized() || entry.Has(kWindowPinned)) return;
    entry.rect = frame->OuterRect();
}

bool WindowModule::FrameCloseRequested(uint64_t uid) {
    if (closing_) return true;
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock) return false;
    const auto index = Find(uid);
    // A frame no entry holds any more is one the module is ending.
    if (!index) return true;
    table_[*index].record.param &= static_cast<uint16_t>(~kWindowVisible);
    if (WindowFrame* frame = runtime_[*index].frame.get()) frame->Hide();
    return false;
}

void WindowModule::FramePinTick(uint64_t uid) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock) return;
    const auto index = Find(uid);
    if (!index) return;
    WindowFrame* frame = runtime_[*index].frame.get();
    const WindowEntry& entry = table_[*index].record;
    if (!frame || !entry.Active() || !entry.Has(kWindowPinned) || frame->IsMinimized()) return;
    if (frame->OuterRect() != entry.rect) frame->MoveTo(entry.rect);
}

// ---- with the module lock held ----

bool WindowModule::UidInUse(uint64_t uid, size_t except) const {
    return core::IdTaken(table_, &WindowEntry::uid, uid, except);
}

uint64_t WindowModule::FreshUid(uint64_t wanted) const { return core::FreshId(table_, &WindowEntry::uid, wanted); }

std::optional<size_t> WindowModule::Find(uint64_t uid) const {
    for (size_t i = 0; i < table_.size(); ++i) {
        if (table_[i].record.uid == uid && runtime_[i].frame) return i;
    }
    return std::nullopt;
}

void WindowModule::SetMarked(size_t index, bool marked) {
    table_.MarkDeleted(index, marked);
    table_[index].record.marked = marked;
}

std::optional<size_t> WindowModule::AddLocked(WindowEntry entry, std::vector<TakenFrame>& displaced,
                                              const WindowTypeSettings* settings) {
    // Computed before a free slot is taken over, so the new window never
    // shares a UID with the one it displaces.
    if (entry.uid == 0 || UidInUse(entry.uid, kNoIndex)) entry.uid = FreshUid(core_.SecondsSinceEpoch());
    entry.marked = false;
    const std::optional<size_t> index = table_.Add(entry);
    if (!index) return std::nullopt;
    if (*index >= runtime_.size()) runtime_.resize(*index + 1);
    if (runtime_[*index].frame) displaced.push_back(TakenFrame{std::move(runtime_[*index].frame), false});
    // Written first: the window reads its settings as it is made. Handed
    // over as well, so it has them even when the file stays unwritten.
    if (settings) StoreTypeSettings(entry.uid, *settings);
    CreateFrame(*index);
    if (WindowFrame* frame = runtime_[*index].frame.get(); frame && settings) frame->ApplyTypeSettings(*settings);
    return index;
}

void WindowModule::StoreTypeSettings(uint64_t uid, const WindowTypeSettings& settings) {
    if (!core_.config) return;
    if (StoreWindowTypeSettings(*core_.config, uid, settings)) return;
    const int error = errno;
    core_.Report(core::Severity::Error, core::str::kFileError, core_.config->FileFor(kWindowSettingsFile).string(), error);
}

void WindowModule::CreateFrame(size_t index) {
    if (!system_) return;
    WindowEntry& entry = table_[index].record;
    // A place on a monitor that is gone, or larger than any screen, is
    // brought onto the screens now and saved that way.
    entry.rect = FitToScreens(OpeningRect(entry.rect, core_.options.windowReset), system_->Screens());
    entry.icon = IconForType(entry.type, entry.icon);
    const FrameRequest request{entry.uid, entry.type, entry.icon, entry.rect, nullptr};
    std::unique_ptr<WindowFrame> frame;
    try {
        frame = system_->CreateFrame(request, *this);
    } catch (const std::exception&) {
        frame.reset();
    }
    if (!frame) {
        core_.counters.errors.fetch_add(1);
        return;
    }
    runtime_[index].frame = std::move(frame);
    core_.counters.windows.fetch_add(1);
    Apply(index, kApplyAllOptions);
}

void WindowModule::Apply(size_t index, uint16_t mask) {
    WindowFrame* frame = runtime_[index].frame.get();
    if (!frame) return;
    WindowEntry& entry = table_[index].record;
    if (entry.Active()) {
        if (mask & kWindowOnTop) frame->SetOnTop(entry.Has(kWindowOnTop));
        if (mask & kWindowToolFrame) frame->SetToolFrame(entry.Has(kWindowToolFrame));
    }
    // A minimised window's place says nothing about where it will reopen.
    if ((mask & kWindowPinned) && !frame->IsMinimized()) entry.rect = frame->OuterRect();
    if (mask & kWindowVisible) {
        if (entry.Active() && entry.Has(kWindowVisible)) {
            frame->ShowAndRaise();
        } else if (frame->IsVisible()) {
            frame->Hide();
        }
    }
    if ((mask & kApplyTitle) && entry.Active()) frame->SetTitle(entry.name);
    frame->Repaint();
}

std::vector<WindowModule::TakenFrame> WindowModule::TakeFrames() {
    std::vector<TakenFrame> frames;
    for (size_t i = 0; i < runtime_.size(); ++i) {
        if (runtime_[i].frame) frames.push_back(TakenFrame{std::move(runtime_[i].frame), !table_[i].deleted});
    }
    return frames;
}

// ---- without the module lock ----

void WindowModule::DestroyFrames(std::vector<TakenFrame> frames, bool saveTypeSettings) {
    for (TakenFrame& taken : frames) {
        // No worker may still be using a window that goes away.
        while (taken.frame->BusyWorkers() != 0) platform::SleepMs(kBusyPollMs);
        if (saveTypeSettings && taken.live) taken.frame->SaveTypeSettings();
        taken.frame.reset();
        core_.counters.windows.fetch_sub(1);
    }
}

}  // namespace qm::windows
