#include "processing/dbase/dbase_module.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core/core_context.h"
#include "platform/profile_file.h"
#include "platform/utf16.h"
#include "processing/dbase/log_format.h"
#include "support/temp_dir.h"

namespace qm::processing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kSection = "mod_dbase";
const core::ModuleDescriptor kCatalog[] = {
    {core::kModuleDbase, "Module: DBase", "mod_dbase", true, CreateDbaseModule}};

const std::string kSaved = "База данных сохранена ";
const std::string kFileError = "Ошибка при работе с файлом ";
const std::string kLoading = "Загрузка базы данных из ";
const std::string kLoaded = "База данных загружена (";

// ---- bytes and files ------------------------------------------------------

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Spill(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// Regular files in a folder, by name.
std::vector<std::string> FileNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Stored(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) AppendStoredLine(out, line);
    return out;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// The lines of a stored log file, in file order; a file that does not end
// with a line end fails the test.
std::vector<std::string> StoredLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t begin = 0;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        if (bytes[i] != '\n' || bytes[i + 1] != '\0') continue;
        lines.push_back(platform::Utf16LEBytesToUtf8(std::string_view(bytes).substr(begin, i - begin)));
        begin = i + 2;
    }
    EXPECT_EQ(begin, bytes.size()) << "unfinished last line";
    return lines;
}

// A relayed line: its suffix fixes sender and time, so the stored line is the
// submitted text itself.
std::string Relayed(const std::string& tag, int n) {
    const std::string i = std::to_string(n);
    return "<13>" + tag + " " + i + "|a2;10.0.0." + std::to_string(n % 250 + 1) + ";6 12 2026 8 5 9 " + i + ";";
}

std::vector<std::string> Relayed(const std::string& tag, int first, int count) {
    std::vector<std::string> lines;
    for (int n = first; n < first + count; ++n) lines.push_back(Relayed(tag, n));
    return lines;
}

std::array<uint8_t, 4> U32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// The settings file of the module, in the current form. The worker wakes every
// 50 ms and writes once the queue holds more than 20 records.
class DbaseIni {
public:
    DbaseIni() {
        Text("Version", "2");
        Number("Common.Timeout", 50);
        Number("Common.MsgLimit", 20);
    }
    DbaseIni& Text(const std::string& key, const std::string& value) {
        file_.WriteString(kSection, key, value);
        return *this;
    }
    DbaseIni& Number(const std::string& key, uint32_t value) {
        file_.WriteStruct(kSection, key, U32(value));
        return *this;
    }
    DbaseIni& Byte(const std::string& key, uint8_t value) {
        file_.WriteStruct(kSection, key, std::array<uint8_t, 1>{value});
        return *this;
    }
    // Targets 0..n-1 with these name formats, all enabled unless listed in `disabled`.
    DbaseIni& Targets(const std::vector<std::string>& nameFormats, const std::vector<size_t>& disabled = {}) {
        Number("ItemCount", uint32_t(nameFormats.size()));
        for (size_t i = 0; i < nameFormats.size(); ++i) {
            const std::string prefix = "Item." + std::to_string(i) + "-";
            const uint8_t enable = std::find(disabled.begin(), disabled.end(), i) == disabled.end() ? 1 : 0;
            Byte(prefix + "Enable", enable);
            Text(prefix + "StrName", "Target " + std::to_string(i));
            Text(prefix + "StrLogNameFormat", nameFormats[i]);
        }
        return *this;
    }
    void Save(const fs::path& home) const {
        fs::create_directories(home / "Settings");
        ASSERT_TRUE(file_.Save(home / "Settings" / "mod_dbase.ini"));
    }

private:
    platform::ProfileFile file_;
};

// ---- one run of the program with only the event database loaded ------------

class DbaseRun {
public:
    explicit DbaseRun(const fs::path& home) : logs_(home / "Logs") {
        core_.paths = core::Paths::Build(home / "quillmark", home);
        core_.catalog = kCatalog;
        core::CoreStart(core_);
        module_ = core_.registry->FindAs<DbaseModule>(core::kModuleDbase);
    }
    ~DbaseRun() { Stop(); }

    bool Ready() const { return module_ != nullptr; }
    DbaseModule& Module() { return *module_; }
    core::EventCore& Events() { return *core_.events; }

    // Program shutdown: the module is unloaded, then the event core stops.
    void Stop() {
        if (stopped_) return;
        stopped_ = true;
        core::CoreShutdown(core_);
    }

    // A line from 10.1.2.3, as the collector hands it in.
    void Submit(const std::string& line, uint32_t type = core::kEventExternal) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, "10.1.2.3", &from.sin_addr);
        EXPECT_EQ(Events().Submit(type, core::kNoSeverity, line, from), core::kOk);
    }
    // Submits and waits until the record is in the queue, so queue order is submission order.
    void Queue(const std::string& line, uint32_t type = core::kEventExternal) {
        Submit(line, type);
        EXPECT_TRUE(Events().Settle(5000));
    }
    void Queue(const std::vector<std::string>& lines) {
        for (const std::string& line : lines) Queue(line);
    }

    // The queue as it stands, everything submitted so far included.
    std::vector<core::EventRecord> Peek() {
        EXPECT_TRUE(Events().Settle(5000));
        std::vector<core::EventRecord> out;
        core::QueueSlice slice;
        for (size_t start = 0; Events().ReadSlice(start, platform::Blocking::Yes, slice) == core::kOk;) {
            for (const core::EventPtr& r : slice.Records()) out.push_back(*r);
            start += slice.size();
            slice.Release();
        }
        return out;
    }
    // Takes the whole queue away from the module.
    std::vector<core::EventRecord> Take() {
        EXPECT_TRUE(Events().Settle(5000));
        std::vector<core::EventPtr> drained;
        EXPECT_EQ(Events().Drain(drained, platform::Blocking::Yes), core::kOk);
        std::vector<core::EventRecord> out;
        for (const core::EventPtr& r : drained) out.push_back(*r);
        return out;
    }

    // Waits for the worker's first wake-up, when it reads the buffer file
    // back, and takes everything queued up to then (reports and reloaded
    // events), so tests start from an empty queue.
    std::vector<core::EventRecord> AwaitStartup() {
        EXPECT_TRUE(WaitUntil([&] {
            const auto seen = Peek();
            return Has(seen, kLoading) && (Has(seen, kLoaded) || Has(seen, kFileError));
        })) << "the buffer file was never read";
        return Take();
    }

    // Queues `lines` in order, wakes the worker and waits for its drain and
    // for `reports` file reports; returns the queue as it then stands.
    std::vector<core::EventRecord> WriteBatch(const std::vector<std::string>& lines, size_t reports) {
        const uint32_t generation = Events().Generation();
        Queue(lines);
        Module().Wake();
        EXPECT_TRUE(WaitUntil([&] { return Events().Generation() != generation; })) << "the queue was never drained";
        return AwaitReports(reports);
    }
    std::vector<core::EventRecord> AwaitReports(size_t reports) {
        EXPECT_TRUE(WaitUntil([&] {
            size_t n = 0;
            for (const core::EventRecord& e : Peek()) n += StartsWith(e, kSaved) || StartsWith(e, kFileError);
            return n >= reports;
        })) << "expected " << reports << " file reports";
        return Take();
    }

    std::vector<std::string> LogFiles() const { return FileNames(logs_); }

    static bool StartsWith(const core::EventRecord& e, const std::string& prefix) {
        return e.type == core::kEventSystem && e.message.compare(0, prefix.size(), prefix) == 0;
    }
    static bool Has(const std::vector<core::EventRecord>& events, const std::string& prefix) {
        return std::any_of(events.begin(), events.end(), [&](const auto& e) { return StartsWith(e, prefix); });
    }
    static bool HasSystem(const std::vector<core::EventRecord>& events, const std::string& message) {
        return std::any_of(events.begin(), events.end(),
                           [&](const auto& e) { return e.type == core::kEventSystem && e.message == message; });
    }

private:
    fs::path logs_;
    core::CoreContext core_;
    DbaseModule* module_ = nullptr;
    bool stopped_ = false;
};

// A home folder one level inside the temp folder, so a path that climbs out
// of the log folder still lands where the test can see it.
struct Home {
    qm::testing::TempDir temp{"qm-dbase"};
    fs::path root = temp.path() / "home";
    fs::path logs = root / "Logs";
    fs::path buffer = logs / "log_last.log";
};

// ---- writing batches ----------------------------------------------------------

TEST(DbaseModule, WritesTheWholeQueueOnceItHoldsMoreThanMsgLimit) {
    Home home;
    DbaseIni().Save(home.root);
    DbaseRun run(home.root);
    ASSERT_TRUE(run.Ready());
    run.AwaitStartup();

    // Twenty records, one of them the program's own System report: not enough.
    const uint32_t generation = run.Events().Generation();
    const std::vector<std::string> held = Relayed("held", 0, 19);
    run.Queue(held);
    ASSERT_EQ(run.Events().Report(6, "probe"), core::kOk);
    ASSERT_TRUE(run.Events().Settle(5000));
    ASSERT_EQ(run.Events().QueueCount(), 20u);
    run.Module().Wake();
    std::this_thread::sleep_for(150ms);  // the wake-up and two more periods
    EXPECT_EQ(run.Events().Generation(), generation);
    EXPECT_EQ(run.Events().QueueCount(), 20u);
    EXPECT_TRUE(run.LogFiles().empty());

    // The 21st, a plain line stamped by the intake, sends the whole queue out.
    const auto after = run.WriteBatch({"<13>hello"}, 1);
    EXPECT_EQ(run.Events().QueueCount(), 0u);

    const std::vector<std::string> files = run.LogFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(log_\d{8}_\d{6}\.log)"))) << files[0];
    const fs::path written = home.logs / files[0];
    EXPECT_TRUE(DbaseRun::HasSystem(after, kSaved + written.string()));

    const std::string bytes = Slurp(written);
    const std::string heldBytes = Stored(held);
    ASSERT_GT(bytes.size(), heldBytes.size());
    EXPECT_EQ(bytes.substr(0, heldBytes.size()), heldBytes);  // in queue order, the System report left out
    const std::vector<std::string> last = StoredLines(bytes.substr(heldBytes.size()));
    ASSERT_EQ(last.size(), 1u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(last[0], m, std::regex(R"(<13>hello\|a2;10\.1\.2\.3;(\d+) (\d+) (\d{4}) (\d+) (\d+) (\d+) (\d+);)")))
        << last[0];
    // The file is named after the time of the write, day first.
    char date[32];
    std::snprintf(date, sizeof date, "%02d%02d%s", std::stoi(m[1]), std::stoi(m[2]), m[3].str().c_str());
    EXPECT_EQ(files[0].substr(4, 8), date);
}

TEST(DbaseModule, EventParamSelectsTheTypesWritten) {
    Home home;
    DbaseIni().Byte("Common.EventParam", core::kEventInternal).Save(home.root);
    DbaseRun run(home.root);
    ASSERT_TRUE(run.Ready());
    run.AwaitStartup();

    const std::vector<std::string> internal = Relayed("internal", 0, 11);
    const uint32_t generation = run.Events().Generation();
    for (int i = 0; i < 10; ++i) {
        run.Queue(internal[i], core::kEventInternal);
        run.Queue(Relayed("external", i), core::kEventExternal);
    }
    run.Queue(internal[10], core::kEventInternal);  // the 21st
    run.Module().Wake();
    ASSERT_TRUE(WaitUntil([&] { return run.Events().Generation() != generation; }));
    run.AwaitReports(1);

    const std::vector<std::string> files = run.LogFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(Slurp(home.logs / files[0]), Stored(internal));
}

TEST(DbaseModule, EveryEnabledTargetGetsEachBatch) {
    Home home;
    DbaseIni().Targets({"main.log", "second_%.2u%.2u%.4u.log", "off.log", "gone.log"}, {2}).Save(home.root);
    DbaseRun run(home.root);
    ASSERT_TRUE(run.Ready());
    run.AwaitStartup();
    ASSERT_TRUE(WaitUntil([&] { return run.Module().DeleteRecord(3); }));
    EXPECT_EQ(run.Module().Record(2)->enable, 0);

    const std::vector<std::string> first = Relayed("first", 0, 21);
    const std::vector<std::string> second = Relayed("second", 100, 21);
    const auto reports1 = run.WriteBatch(first, 2);
    const auto reports2 = run.WriteBatch(second, 2);

    const std::vector<std::string> files = run.LogFiles();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0], "main.log");
    EXPECT_TRUE(std::regex_match(files[1], std::regex(R"(second_\d{8}\.log)"))) << files[1];
    for (const std::string& name : files) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Slurp(home.logs / name), Stored(Concat(first, second)));
        EXPECT_TRUE(DbaseRun::HasSystem(reports1, kSaved + (home.logs / name).string()));
        EXPECT_TRUE(DbaseRun::HasSystem(reports2, kSaved + (home.logs / name).string()));
    }
    EXPECT_FALSE(fs::exists(home.logs / "off.log"));
    EXPECT_FALSE(fs::exists(home.logs / "gone.log"));
}

TEST(DbaseModule, WritesInTheSameSecondAppendToOneFile) {
    Home home;
    DbaseIni().Targets({kDefaultLogNameFormat, "fixed.log"}).Save(home.root);
    const std::vector<std::string> earlier = Relayed("earlier", 0, 2);
    Spill(home.logs / "fixed.log", Stored(earlier));
    DbaseRun run(home.root);
    ASSERT_TRUE(run.Ready());
    run.AwaitStartup();

    // Two batches inside one second, tried again should a slow machine cross a second.
    std::vector<std::string> fixed = earlier;
    bool sameSecond = false;
    for (int attempt = 0; attempt < 3 && !sameSecond; ++attempt) {
        while (platform::LocalTimeNow().milliseconds > 400) std::this_thread::sleep_for(5ms);
        const std::vector<std::string> a = Relayed("a" + std::to_string(attempt), 0, 21);
        const std::vector<std::string> b = Relayed("b" + std::to_string(attempt), 0, 21);
        const auto first = run.WriteBatch(a, 2);
        const auto second = run.WriteBatch(b, 2);
        fixed = Concat(Concat(fixed, a), b);

        const auto timed = [](const std::vector<core::EventRecord>& reports) {
            for (const core::EventRecord& e : reports) {
                if (DbaseRun::StartsWith(e, kSaved) && e.message.find("/log_") != std::string::npos)
                    return e.message.substr(kSaved.size());
            }
            return std::string();
        };
        const std::string path = timed(first);
        ASSERT_FALSE(path.empty());
        if (path != timed(second)) continue;
        sameSecond = true;
        const std::string both = Stored(a) + Stored(b);
        const std::string content = Slurp(path);
        ASSERT_GE(content.size(), both.size());
        EXPECT_EQ(content.substr(content.size() - both.size()), both);
    }
    EXPECT_TRUE(sameSecond);
    // A file that already exists is added to, never replaced.
    EXPECT_EQ(Slurp(home.logs / "fixed.log"), Stored(fixed));
}

// ---- the buffer file at shutdown and start ----------------------------------------

TEST(DbaseModule, ShutdownKeepsTheQueueInTheBufferFileAndTheNextStartReloadsIt) {
    Home home;
    DbaseIni().Save(home.root);
    const std::vector<std::string> kept = Relayed("kept", 0, 10);
    {
        DbaseRun run(home.root);
        ASSERT_TRUE(run.Ready());
        run.AwaitStartup();
        run.Queue(kept);
        ASSERT_EQ(run.Events().Report(6, "not stored"), core::kOk);
        run.Stop();
    }
    EXPECT_EQ(Slurp(home.buffer), Stored(kept));
    EXPECT_EQ(FileNames(home.logs), std::vector<std::string>{"log_last.log"});  // nothing else was written

    const std::vector<std::string> fresh = Relayed("fresh", 50, 3);
    {
        DbaseRun run(home.root);
        ASSERT_TRUE(run.Ready());
        const std::vector<core::EventRecord> startup = run.AwaitStartup();
        EXPECT_TRUE(DbaseRun::HasSystem(startup, kLoading + home.buffer.string()));
        EXPECT_TRUE(DbaseRun::HasSystem(startup, kLoaded + std::to_string(Stored(kept).size()) + " байт)"));

        std::vector<core::EventRecord> archive;
        for (const core::EventRecord& e : startup) {
            if (e.type == core::kEventArchive) archive.push_back(e);
        }
        std::sort(archive.begin(), archive.end(), [](const auto& a, const auto& b) { return a.raw < b.raw; });
        ASSERT_EQ(archive.size(), kept.size());
        for (size_t i = 0; i < archive.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(archive[i].raw, "<13>kept " + std::to_string(i));
            EXPECT_EQ(archive[i].sender, "10.0.0." + std::to_string(i + 1));
            const platform::SystemTime& t = archive[i].time;
            EXPECT_EQ(std::vector<int>({t.day, t.month, t.year, t.hour, t.minute, t.second, t.milliseconds}),
                      std::vector<int>({6, 12, 2026, 8, 5, 9, int(i)}));
            EXPECT_EQ(FormatLogLine(kDefaultLogFormat, archive[i]), kept[i]);
        }

        // The reloaded events were taken above; the file now holds only what is left.
        run.Queue(fresh);
        run.Stop();
    }
    EXPECT_EQ(Slurp(home.buffer), Stored(fresh));
}

TEST(DbaseModule, ServiceStopAndStartCarryTheQueueThroughTheBufferFile) {
    Home home;
    DbaseIni().Save(home.root);
    DbaseRun run(home.root);
    ASSERT_TRUE(run.Ready());
    run.AwaitStartup();
    const std::vector<std::string> kept = Relayed("kept", 0, 4);
    run.Queue(kept);

    ASSERT_TRUE(run.Module().Stop(platform::Blocking::Yes));
    EXPECT_FALSE(run.Module().Stop(platform::Blocking::Yes));
    EXPECT_EQ(Slurp(home.buffer), Stored(kept));
    EXPECT_EQ(run.Events().QueueCount(), 0u);

    ASSERT_TRUE(run.Module().Start(platform::Blocking::Yes));
    EXPECT_FALSE(run.Module().Start(platform::Blocking::Yes));
    std::vector<std::string> archive;
    for (const core::EventRecord& e : run.AwaitStartup()) {
        if (e.type == core::kEventArchive) archive.push_back(FormatLogLine(kDefaultLogFormat, e));
    }
    EXPECT_EQ(Sorted(archive), kept);
}

TEST(DbaseModule, OwnLogFormatIsWrittenAndReloadsAsPlainText) {
    Home home;
    const std::string ownFormat = "%s [%s] %.2u.%.2u.%u %.2u:%.2u:%.2u.%.3u";
    DbaseIni().Text("Common.StrLogFormat", ownFormat).Save(home.root);
    {
        DbaseRun run(home.root);
        ASSERT_TRUE(run.Ready());
        run.AwaitStartup();
        run.Queue("<13>kept|a2;10.0.0.7;6 12 2026 8 5 9 7;");
        run.Stop();
    }
    DbaseRun run(home.root);
    ASSERT_TRUE(run.Ready());
    std::vector<core::EventRecord> archive;
    for (const core::EventRecord& e : run.AwaitStartup()) {
        if (e.type == core::kEventArchive) archive.push_back(e);
    }
    // Without the relay suffix the line comes back whole, from the loader.
    ASSERT_EQ(archive.size(), 1u);
    EXPECT_EQ(archive[0].raw, "<13>kept [10.0.0.7] 06.12.2026 08:05:09.007");
    EXPECT_EQ(archive[0].sender, "127.0.0.1");
    EXPECT_FALSE(archive[0].relayed);
}

TEST(DbaseModule, BufferFileLoadDropsAnUnfinishedLastLine) {
    Home home;
    DbaseIni().Save(home.root);
    const std::vector<std::string> whole = Relayed("whole", 0, 2);
    const std::string content = Stored(whole) + platform::Utf8ToUtf16LEBytes("<13>cut off|a2;10.0.0.9;");
    Spill(home.buffer, content);

    DbaseRun run(home.root);
    ASSERT_TRUE(run.Ready());
    const std::vector<core::EventRecord> startup = run.AwaitStartup();
    std::vector<std::string> archive;
    for (const core::EventRecord& e : startup) {
        if (e.type == core::kEventArchive) archive.push_back(FormatLogLine(kDefaultLogFormat, e));
    }
    EXPECT_EQ(Sorted(archive), whole);
    EXPECT_TRUE(DbaseRun::HasSystem(startup, kLoaded + std::to_string(content.size()) + " байт)"));
}

TEST(DbaseModule, EventsStillInTheIntakeAtShutdownReachTheBufferFile) {
    Home home;
    DbaseIni().Save(home.root);
    const std::vector<std::string> late = Relayed("late", 0, 15);
    {
        DbaseRun run(home.root);
        ASSERT_TRUE(run.Ready());
        run.AwaitStartup();
        for (const std::string& line : late) run.Submit(line);
        run.Stop();
    }
    EXPECT_EQ(Sorted(StoredLines(Slurp(home.buffer))), Sorted(late));
}

TEST(DbaseModule, StopBeforeTheFirstWakeUpKeepsTheOldBufferLines) {
    Home home;
    // The worker would first wake after a minute: the stop comes long before.
    DbaseIni().Number("Common.Timeout", 60000).Save(home.root);
    const std::vector<std::string> old = Relayed("old", 0, 5);
    Spill(home.buffer, Stored(old));
    const std::vector<std::string> fresh = Relayed("fresh", 10, 3);
    {
        DbaseRun run(home.root);
        ASSERT_TRUE(run.Ready());
        run.Queue(fresh);
        run.Stop();
    }
    EXPECT_EQ(Sorted(StoredLines(Slurp(home.buffer))), Sorted(Concat(old, fresh)));
}

// ---- file errors ----------------------------------------------------------------

TEST(DbaseModule, UnwritableTargetKeepsItsLinesUntilItCanBeWritten) {
    Home home;
    DbaseIni().Targets({"fixed.log", "second.log"}).Save(home.root);
    // A folder where the first target's file would be.
    const fs::path blocked = home.logs / "fixed.log";
    const fs::path healthy = home.logs / "second.log";
    fs::create_directories(blocked);
    DbaseRun run(home.root);
    ASSERT_TRUE(run.Ready());
    run.AwaitStartup();
    const uint32_t errors = run.Module().ErrorCount();

    const std::vector<std::string> first = Relayed("first", 0, 21);
    const auto reports1 = run.WriteBatch(first, 2);
    EXPECT_TRUE(DbaseRun::HasSystem(reports1, kFileError + blocked.string() + ". Код: " + std::to_string(EISDIR)));
    EXPECT_FALSE(DbaseRun::HasSystem(reports1, kSaved + blocked.string()));
    EXPECT_TRUE(DbaseRun::HasSystem(reports1, kSaved + healthy.string()));
    EXPECT_TRUE(fs::is_directory(blocked));
    EXPECT_EQ(run.Module().ErrorCount(), errors + 1);

    fs::remove(blocked);
    const std::vector<std::string> second = Relayed("second", 100, 21);
    const auto reports2 = run.WriteBatch(second, 2);
    EXPECT_TRUE(DbaseRun::HasSystem(reports2, kSaved + blocked.string()));
    EXPECT_TRUE(DbaseRun::HasSystem(reports2, kSaved + healthy.string()));
    EXPECT_FALSE(DbaseRun::Has(reports2, kFileError));

    EXPECT_EQ(Slurp(blocked), Stored(Concat(first, second)));
    EXPECT_EQ(Slurp(healthy), Stored(Concat(first, second)));
    EXPECT_EQ(run.Module().ErrorCount(), errors + 1);
}

TEST(DbaseModule, LinesATargetNeverTookGoToTheBufferFileAtShutdown) {
    Home home;
    DbaseIni().Targets({"fixed.log"}).Save(home.root);
    fs::create_directories(home.logs / "fixed.log");
    const std::vector<std::string> missed = Relayed("missed", 0, 21);
    const std::vector<std::string> queued = Relayed("queued", 50, 4);
    {
        DbaseRun run(home.root);
        ASSERT_TRUE(run.Ready());
        run.AwaitStartup();
        run.WriteBatch(missed, 1);
        run.Queue(queued);
        run.Stop();
    }
    // The target's lines first, then the queue's.
    EXPECT_EQ(Slurp(home.buffer), Stored(Concat(missed, queued)));
}

TEST(DbaseModule, UnreadableBufferFileIsNotOverwritten) {
    Home home;
    DbaseIni().Save(home.root);
    fs::create_directories(home.buffer / "inside");  // reading it fails with EISDIR
    const std::vector<std::string> events = Relayed("run", 0, 3);
    {
        DbaseRun run(home.root);
        ASSERT_TRUE(run.Ready());
        const auto startup = run.AwaitStartup();
        EXPECT_TRUE(DbaseRun::HasSystem(startup, kFileError + home.buffer.string() + ". Код: " + std::to_string(EISDIR)));
        run.Queue(events);
        run.Stop();
    }
    EXPECT_TRUE(fs::is_directory(home.buffer / "inside"));
    fs::path next = home.buffer;
    next += ".next";
    EXPECT_EQ(Slurp(next), Stored(events));
}

TEST(DbaseModule, UnreadableBufferFileKeepsEveryRunsEventsBesideIt) {
    Home home;
    DbaseIni().Save(home.root);
    fs::create_directories(home.buffer);
    fs::path next = home.buffer;
    next += ".next";
    const std::vector<std::string> first = Relayed("first", 0, 3);
    const std::vector<std::string> second = Relayed("second", 0, 2);
    for (const auto* events : {&first, &second}) {
        DbaseRun run(home.root);
        ASSERT_TRUE(run.Ready());
        run.AwaitStartup();
        run.Queue(*events);
        run.Stop();
    }
    // The first run's events were never read back anywhere: the second run must not drop them.
    EXPECT_EQ(Sorted(StoredLines(Slurp(next))), Sorted(Concat(first, second)));
}

// ---- names from settings ------------------------------------------------------------

TEST(DbaseModule, FileNamesFromSettingsStayInTheLogFolder) {
    Home home;
    DbaseIni()
        .Text("Common.StrLastLog", "../../etc/x")
        .Targets({"../x_%u.log", "sub/log.log", "..\\y.log"})
        .Save(home.root);
    {
        DbaseRun run(home.root);
        ASSERT_TRUE(run.Ready());
        const auto startup = run.AwaitStartup();
        EXPECT_TRUE(DbaseRun::HasSystem(startup, kLoading + home.buffer.string()));
        run.WriteBatch(Relayed("batch", 0, 21), 3);
        run.Queue(Relayed("left", 0, 2));
        run.Stop();
    }
    EXPECT_EQ(Slurp(home.buffer), Stored(Relayed("left", 0, 2)));

    // Everything written lies directly in the log folder, or is a settings file.
    for (const auto& entry : fs::recursive_directory_iterator(home.temp.path())) {
        if (!entry.is_regular_file()) continue;
        const fs::path folder = entry.path().parent_path();
        EXPECT_TRUE(folder == home.logs || folder == home.root / "Settings") << entry.path();
    }
    EXPECT_FALSE(fs::exists(home.logs / "sub"));
}

// ---- settings -------------------------------------------------------------------------

// The module on its own, without the rest of the program.
struct Offline {
    explicit Offline(const fs::path& home) {
        core.paths = core::Paths::Build(home / "quillmark", home);
        core.config = std::make_unique<core::Config>(core.paths.settingsFolder);
        fs::create_directories(core.paths.settingsFolder);
    }
    core::CoreContext core;
};

TEST(DbaseModule, SettersReplaceUnusableFormatsWithTheDefaults) {
    Home home;
    Offline offline(home.root);
    DbaseModule module(offline.core);
    module.LoadSection();

    for (const char* format : {"%s %d", "%n", "%s%s%u", "%s|%s %u %u %u %u %u %u %u %u"}) {
        SCOPED_TRACE(format);
        DbaseCommon common;
        common.logFormat = format;
        ASSERT_TRUE(module.SetCommon(common));
        EXPECT_EQ(module.Common()->logFormat, kDefaultLogFormat);
    }
    DbaseCommon common;
    common.logFormat = "%s;%s;%u.%u.%u %u:%u:%u.%u";
    common.lastLogFile = "../../etc/x";
    ASSERT_TRUE(module.SetCommon(common));
    EXPECT_EQ(module.Common()->logFormat, "%s;%s;%u.%u.%u %u:%u:%u.%u");
    EXPECT_EQ(module.Common()->lastLogFile, kDefaultLastLog);

    for (const char* format : {"../x_%u.log", "sub/log.log", "%s.log", "log_%n.log"}) {
        SCOPED_TRACE(format);
        LogTarget target;
        target.logNameFormat = format;
        const auto added = module.AddRecord(target);
        ASSERT_TRUE(added);
        EXPECT_EQ(module.Record(*added)->logNameFormat, kDefaultLogNameFormat);
        target.logNameFormat = "day_%.2u%.2u%.4u.log";
        ASSERT_TRUE(module.ReplaceRecord(*added, target));
        EXPECT_EQ(module.Record(*added)->logNameFormat, "day_%.2u%.2u%.4u.log");
        target.logNameFormat = format;
        ASSERT_TRUE(module.ReplaceRecord(*added, target));
        EXPECT_EQ(module.Record(*added)->logNameFormat, kDefaultLogNameFormat);
    }
}

void PutUtf16(std::vector<uint8_t>& bytes, size_t offset, const std::string& text) {
    const std::u16string units = platform::Utf8ToUtf16(text);
    for (size_t i = 0; i < units.size(); ++i) {
        bytes[offset + 2 * i] = uint8_t(units[i]);
        bytes[offset + 2 * i + 1] = uint8_t(units[i] >> 8);
    }
}

void PutU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t v) {
    const auto le = U32(v);
    std::copy(le.begin(), le.end(), bytes.begin() + offset);
}

TEST(DbaseSettings, LegacySectionIsReadAndSavedInTheCurrentForm) {
    Home home;
    const fs::path ini = home.root / "Settings" / "mod_dbase.ini";
    {
        std::vector<uint8_t> common(kLegacyDbaseCommonSize, 0);
        PutUtf16(common, 0, "old_last.log");
        PutUtf16(common, 128, "%s;%s;%u.%u.%u %u:%u:%u.%u");
        common[256] = 0x30;
        PutU32(common, 260, 2500);
        PutU32(common, 264, 300);
        std::vector<uint8_t> main(kLegacyTargetSize, 0), archive(kLegacyTargetSize, 0);
        main[0] = 1;
        PutUtf16(main, 2, "Main");
        PutUtf16(main, 130, "main_%.2u%.2u%.4u.log");
        archive[0] = 0;
        PutUtf16(archive, 2, "Журнал");
        PutUtf16(archive, 130, "j.log");

        platform::ProfileFile file;
        file.WriteStruct(kSection, "Common", common);
        file.WriteString(kSection, "Count", "2");
        file.WriteStruct(kSection, "Item.0", main);
        file.WriteStruct(kSection, "Item.1", archive);
        fs::create_directories(ini.parent_path());
        ASSERT_TRUE(file.Save(ini));
    }

    const auto check = [](DbaseModule& module) {
        const DbaseCommon c = *module.Common();
        EXPECT_EQ(c.lastLogFile, "old_last.log");
        EXPECT_EQ(c.logFormat, "%s;%s;%u.%u.%u %u:%u:%u.%u");
        EXPECT_EQ(c.eventParam, 0x30);
        EXPECT_EQ(c.timeout, 2500u);
        EXPECT_EQ(c.msgLimit, 300u);
        ASSERT_TRUE(module.Record(1));
        EXPECT_FALSE(module.Record(2));
        EXPECT_EQ(module.Record(0)->enable, 1);
        EXPECT_EQ(module.Record(0)->name, "Main");
        EXPECT_EQ(module.Record(0)->logNameFormat, "main_%.2u%.2u%.4u.log");
        EXPECT_TRUE(module.Record(0)->primary);
        EXPECT_EQ(module.Record(1)->enable, 0);
        EXPECT_EQ(module.Record(1)->name, "Журнал");
        EXPECT_EQ(module.Record(1)->logNameFormat, "j.log");
    };
    {
        Offline offline(home.root);
        DbaseModule module(offline.core);
        module.LoadSection();
        check(module);
        ASSERT_TRUE(module.SaveSection());
    }

    const platform::ProfileFile saved = platform::ProfileFile::Load(ini);
    EXPECT_EQ(saved.Get(kSection, "Version"), "2");
    EXPECT_EQ(saved.Get(kSection, "Common.StrLastLog"), "old_last.log");
    EXPECT_EQ(saved.Get(kSection, "Common.StrLogFormat"), "%s;%s;%u.%u.%u %u:%u:%u.%u");
    EXPECT_EQ(saved.ReadStruct(kSection, "Common.EventParam", 1), (std::vector<uint8_t>{0x30}));
    EXPECT_EQ(saved.ReadStruct(kSection, "Common.Timeout", 4), (std::vector<uint8_t>{0xC4, 0x09, 0, 0}));
    EXPECT_EQ(saved.ReadStruct(kSection, "Common.MsgLimit", 4), (std::vector<uint8_t>{0x2C, 0x01, 0, 0}));
    EXPECT_EQ(saved.ReadStruct(kSection, "ItemCount", 4), (std::vector<uint8_t>{2, 0, 0, 0}));
    EXPECT_EQ(saved.ReadStruct(kSection, "Item.0-Enable", 1), (std::vector<uint8_t>{1}));
    EXPECT_EQ(saved.Get(kSection, "Item.0-StrName"), "Main");
    EXPECT_EQ(saved.Get(kSection, "Item.0-StrLogNameFormat"), "main_%.2u%.2u%.4u.log");
    EXPECT_EQ(saved.ReadStruct(kSection, "Item.1-Enable", 1), (std::vector<uint8_t>{0}));
    EXPECT_EQ(saved.Get(kSection, "Item.1-StrName"), "Журнал");
    EXPECT_EQ(saved.Get(kSection, "Item.1-StrLogNameFormat"), "j.log");
    for (const char* legacy : {"Common", "Count", "Item.0", "Item.1"}) EXPECT_FALSE(saved.Get(kSection, legacy)) << legacy;

    // The current form reads back the same.
    Offline offline(home.root);
    DbaseModule module(offline.core);
    module.LoadSection();
    check(module);
}

TEST(DbaseSettings, LegacySectionWithoutTargetsGetsTheDefaultTarget) {
    Home home;
    const fs::path ini = home.root / "Settings" / "mod_dbase.ini";
    std::vector<uint8_t> common(kLegacyDbaseCommonSize, 0);
    PutUtf16(common, 0, "log_last.log");
    PutUtf16(common, 128, kDefaultLogFormat);
    common[256] = 0x38;
    PutU32(common, 260, 10000);
    PutU32(common, 264, 8000);
    platform::ProfileFile file;
    file.WriteStruct(kSection, "Common", common);
    fs::create_directories(ini.parent_path());
    ASSERT_TRUE(file.Save(ini));

    Offline offline(home.root);
    DbaseModule module(offline.core);
    module.LoadSection();
    EXPECT_EQ(module.Common()->msgLimit, 8000u);
    ASSERT_TRUE(module.Record(0));
    EXPECT_FALSE(module.Record(1));
    EXPECT_EQ(module.Record(0)->name, "Default");
    EXPECT_EQ(module.Record(0)->enable, 1);
    EXPECT_EQ(module.Record(0)->logNameFormat, kDefaultLogNameFormat);
    EXPECT_TRUE(module.Record(0)->primary);

    ASSERT_TRUE(module.SaveSection());
    const platform::ProfileFile saved = platform::ProfileFile::Load(ini);
    EXPECT_EQ(saved.ReadStruct(kSection, "ItemCount", 4), (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(saved.Get(kSection, "Item.0-StrName"), "Default");
    EXPECT_EQ(saved.Get(kSection, "Item.0-StrLogNameFormat"), kDefaultLogNameFormat);
}

}  // namespace
}  // namespace qm::processing
