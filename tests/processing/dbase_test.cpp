#include "processing/dbase/dbase_module.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <regex>
#include <stdexcept>

#include "core/core_context.h"
#include "platform/profile_file.h"
#include "processing/dbase/log_format.h"
#include "processing/processing_test_support.h"
#include "support/temp_dir.h"

namespace qm::processing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace test;
using Lines = std::vector<std::string>;
using Records = std::vector<core::EventRecord>;
using platform::Blocking;

constexpr const char* kSection = "mod_dbase";
const core::ModuleDescriptor kCatalog[] = {{core::kModuleDbase, "Module: DBase", "mod_dbase", true, CreateDbaseModule}};
const std::string kSaved = "База данных сохранена ";
const std::string kFileError = "Ошибка при работе с файлом ";
const std::string kLoading = "Загрузка базы данных из ";
const std::string kLoaded = "База данных загружена (";
const std::string kDeleted = "Удалён старый файл журнала ";

template <typename T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Lines Sorted(Lines v) {
    std::sort(v.begin(), v.end());
    return v;
}

std::string Stored(const Lines& lines) {
    std::string out;
    for (const std::string& line : lines) AppendStoredLine(out, line);
    return out;
}

Lines FileNames(const fs::path& folder) {
    Lines names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    }
    return Sorted(names);
}

// A relayed line: its suffix fixes sender and time, so the stored line is the submitted text itself.
std::string Relayed(const std::string& tag, int n) {
    const std::string i = std::to_string(n);
    return "<13>" + tag + " " + i + "|a2;10.0.0." + std::to_string(n % 250 + 1) + ";6 12 2026 8 5 9 " + i + ";";
}

Lines Relayed(const std::string& tag, int first, int count) {
    Lines lines;
    for (int n = first; n < first + count; ++n) lines.push_back(Relayed(tag, n));
    return lines;
}

// A System report with this text, or with `prefix` one beginning with it.
bool Has(const Records& events, const std::string& text, bool prefix = false) {
    return std::any_of(events.begin(), events.end(), [&](const core::EventRecord& e) {
        return e.type == core::kEventSystem && (prefix ? e.Message().rfind(text, 0) == 0 : e.Message() == text);
    });
}
std::string FileError(const fs::path& path, int error) { return kFileError + path.string() + ". Код: " + std::to_string(error); }

Records Archive(const Records& events) {
    Records archive;
    std::ranges::copy_if(events, std::back_inserter(archive), [](const core::EventRecord& e) { return e.type == core::kEventArchive; });
    return archive;
}

// The reloaded Archive events as lines in the default format, sorted.
Lines ArchiveLines(const Records& events) {
    Lines lines;
    for (const core::EventRecord& e : events) {
        if (e.type == core::kEventArchive) lines.push_back(FormatLogLine(kDefaultLogFormat, e));
    }
    return Sorted(lines);
}

// The settings file in the current form. The worker wakes every 50 ms and
// writes once the queue holds more than 20 records.
class DbaseIni {
public:
    DbaseIni() { Text("Version", "2").Number("Common.Timeout", 50).Number("Common.MsgLimit", 20); }
    DbaseIni& Text(const std::string& key, const std::string& value) {
        file_.WriteString(kSection, key, value);
        return *this;
    }
    DbaseIni& Number(const std::string& key, uint32_t value, size_t size = 4) {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(value >> (8 * i));
        file_.WriteStruct(kSection, key, bytes);
        return *this;
    }
    // Targets 0..n-1 with these name formats, all enabled but `disabled`.
    DbaseIni& Targets(const Lines& nameFormats, size_t disabled = SIZE_MAX) {
        Number("ItemCount", uint32_t(nameFormats.size()));
        for (size_t i = 0; i < nameFormats.size(); ++i) {
            const std::string prefix = "Item." + std::to_string(i) + "-";
            Number(prefix + "Enable", i != disabled, 1).Text(prefix + "StrName", "Target " + std::to_string(i));
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

// Runs of the program with only the event database loaded, in a home folder
// one level inside the temp folder, so that a path climbing out of the log
// folder still lands where the test can see it.
class DbaseModuleTest : public ::testing::Test {
protected:
    void TearDown() override { Stop(); }

    // Starts the program, after the previous run's shutdown, and unless told
    // otherwise waits for the buffer file to be read back.
    Records Start(bool await = true) {
        Stop();
        core_ = std::make_unique<core::CoreContext>();
        core_->paths = core::Paths::Build(root_ / "quillmark", root_);
        core_->catalog = kCatalog;
        core::CoreStart(*core_);
        module_ = core_->registry->FindAs<DbaseModule>(core::kModuleDbase);
        if (!module_) throw std::runtime_error("the event database did not load");
        return await ? AwaitStartup() : Records{};
    }
    // Program shutdown: the module is unloaded, then the event core stops.
    void Stop() {
        if (core_) core::CoreShutdown(*core_);
        core_.reset();
    }
    // A whole run: start, queue the lines, shut down.
    Records RunOnce(const Lines& lines) {
        Records startup = Start();
        Queue(lines);
        Stop();
        return startup;
    }
    core::EventCore& Events() { return *core_->events; }

    // A line from 10.1.2.3, as the collector hands it in.
    void Submit(const std::string& line, uint32_t type = core::kEventExternal) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, "10.1.2.3", &from.sin_addr);
        EXPECT_EQ(Events().Submit(type, core::kNoSeverity, line, from), core::kOk);
    }
    // Submits and waits until each record is in the queue, so queue order is submission order.
    void Queue(const Lines& lines, uint32_t type = core::kEventExternal) {
        for (const std::string& line : lines) {
            Submit(line, type);
            EXPECT_TRUE(Events().Settle(5000));
        }
    }
    // Takes the whole queue away from the module.
    Records Take() {
        EXPECT_TRUE(Events().Settle(5000));
        std::vector<core::EventPtr> drained;
        EXPECT_EQ(Events().Drain(drained, Blocking::Yes), core::kOk);
        Records out;
        for (const core::EventPtr& r : drained) out.push_back(*r);
        return out;
    }
    // Takes the queue until `done` holds for what was taken, and once more
    // for what the intake still held then.
    Records TakeUntil(const std::function<bool(const Records&)>& done, const char* what) {
        Records seen;
        EXPECT_TRUE(WaitUntil([&] { return done(seen = seen + Take()); })) << what;
        return seen + Take();
    }
    // Waits for the worker's first wake-up, when it reads the buffer file back.
    Records AwaitStartup() {
        return TakeUntil([](const Records& seen) {
            return Has(seen, kLoading, true) && (Has(seen, kLoaded, true) || Has(seen, kFileError, true));
        }, "the buffer file was never read");
    }
    // Queues `lines`, wakes the worker and waits for its drain and for `reports` file reports.
    Records WriteBatch(const Lines& lines, size_t reports, uint32_t type = core::kEventExternal) {
        const uint32_t generation = Events().Generation();
        Queue(lines, type);
        module_->Wake();
        EXPECT_TRUE(WaitUntil([&] { return Events().Generation() != generation; })) << "the queue was never drained";
        return TakeUntil([&](const Records& seen) {
            return size_t(std::count_if(seen.begin(), seen.end(), [](const core::EventRecord& e) {
                       return Has({e}, kSaved, true) || Has({e}, kFileError, true);
                   })) >= reports;
        }, "too few file reports");
    }

    // Hands `lines` over in one piece, as a flood comes, and wakes the worker.
    void Flood(const Lines& lines) {
        core::IntakeBatch batch(core::kEventExternal, core::kNoSeverity);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (const std::string& line : lines) batch.Add(line, from);
        ASSERT_EQ(Events().HandOver(batch, true), core::kOk);
        module_->Wake();
    }
    // A write, and exactly `count` deletion reports after it.
    Records Deleting(const Lines& lines, size_t count) {
        const auto deletions = [](const Records& r) {
            return size_t(std::count_if(r.begin(), r.end(), [](const core::EventRecord& e) { return Has({e}, kDeleted, true); }));
        };
        const Records written = WriteBatch(lines, 1);
        const Records all = written + TakeUntil([&](const Records& seen) { return deletions(written + seen) >= count; },
                                                "too few deletions");
        EXPECT_EQ(deletions(all), count);
        return all;
    }
    // A write in which targets fail without a word: waits for the module's error count.
    Records WriteFailing(const Lines& lines, uint32_t errors) {
        Queue(lines);
        module_->Wake();
        EXPECT_TRUE(WaitUntil([&] { return module_->ErrorCount() >= errors; })) << "the write never failed";
        return Take();
    }

    std::atomic<int64_t> clock_{0};  // what the worker's clock says, once a test sets it
    qm::testing::TempDir temp_{"qm-dbase"};
    fs::path root_ = temp_.path() / "home";
    fs::path logs_ = root_ / "Logs";
    fs::path buffer_ = logs_ / "log_last.log";
    std::unique_ptr<core::CoreContext> core_;
    DbaseModule* module_ = nullptr;
};

// ---- writing batches ----------------------------------------------------------

TEST_F(DbaseModuleTest, WritesTheWholeQueueOnceItHoldsMoreThanMsgLimitOfTheTypesInEventParam) {
    DbaseIni().Number("Common.EventParam", core::kEventExternal, 1).Save(root_);
    Start();
    // Twenty records, among them a poller's line and the program's own report: not enough.
    const uint32_t generation = Events().Generation();
    const Lines held = Relayed("held", 0, 18);
    Queue({held[0]});
    Queue({Relayed("internal", 0)}, core::kEventInternal);
    Queue(Lines(held.begin() + 1, held.end()));
    ASSERT_EQ(Events().Report(6, "probe"), core::kOk);
    ASSERT_TRUE(Events().Settle(5000));
    module_->Wake();
    std::this_thread::sleep_for(150ms);  // the wake-up and two more periods
    EXPECT_EQ(Events().Generation(), generation);
    EXPECT_EQ(Events().QueueCount(), 20u);

    // The 21st, a plain line stamped by the intake, sends the whole queue out.
    const Records reports = WriteBatch({"<13>hello"}, 1);
    const Lines files = FileNames(logs_);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(log_\d{8}_\d{6}\.log)"))) << files[0];
    EXPECT_TRUE(Has(reports, kSaved + (logs_ / files[0]).string()));
    // Queue order, only External lines; the intake's sender and time on the last.
    const Lines stored = LogLines(logs_ / files[0]);
    ASSERT_EQ(stored.size(), held.size() + 1);
    EXPECT_EQ(Lines(stored.begin(), stored.end() - 1), held);
    EXPECT_TRUE(std::regex_match(stored.back(), std::regex(R"(<13>hello\|a2;10\.1\.2\.3;(\d+ ){6}\d+;)"))) << stored.back();
}

TEST_F(DbaseModuleTest, EveryEnabledTargetGetsEachBatch) {
    DbaseIni().Targets({"main.log", "second_%.2u%.2u%.4u.log", "off.log", "gone.log"}, 2).Save(root_);
    Start();
    ASSERT_TRUE(WaitUntil([&] { return module_->DeleteRecord(3); }));
    const Lines first = Relayed("first", 0, 21), second = Relayed("second", 100, 21);
    const Records reports[] = {WriteBatch(first, 2), WriteBatch(second, 2)};

    const Lines files = FileNames(logs_);
    ASSERT_EQ(files.size(), 2u);  // nothing for the disabled and the deleted target
    EXPECT_EQ(files[0], "main.log");
    EXPECT_TRUE(std::regex_match(files[1], std::regex(R"(second_\d{8}\.log)"))) << files[1];
    for (const std::string& name : files) {
        EXPECT_EQ(ReadWholeFile(logs_ / name), Stored(first + second)) << name;
        for (const Records& r : reports) EXPECT_TRUE(Has(r, kSaved + (logs_ / name).string())) << name;
    }
}

TEST_F(DbaseModuleTest, WritesInTheSameSecondAppendToOneFile) {
    DbaseIni().Targets({kDefaultLogNameFormat, "fixed.log"}).Save(root_);
    Lines fixed = Relayed("earlier", 0, 2);
    Spill(logs_ / "fixed.log", Stored(fixed));
    Start();
    // Two batches inside one second, tried again should a slow machine cross a second.
    bool sameSecond = false;
    for (int attempt = 0; attempt < 3 && !sameSecond; ++attempt) {
        for (const std::string& name : FileNames(logs_)) {
            if (name != "fixed.log") fs::remove(logs_ / name);
        }
        while (platform::LocalTimeNow().milliseconds > 400) std::this_thread::sleep_for(5ms);
        const Lines a = Relayed("a" + std::to_string(attempt), 0, 21), b = Relayed("b" + std::to_string(attempt), 0, 21);
        WriteBatch(a, 2), WriteBatch(b, 2);
        fixed = fixed + a + b;
        const Lines files = FileNames(logs_);  // fixed.log, then the timed ones
        if ((sameSecond = files.size() == 2)) {
            EXPECT_EQ(ReadWholeFile(logs_ / files[1]), Stored(a + b));
        }
    }
    EXPECT_TRUE(sameSecond);
    // A file that already exists is added to, never replaced.
    EXPECT_EQ(ReadWholeFile(logs_ / "fixed.log"), Stored(fixed));
}

// ---- the buffer file at shutdown and start ----------------------------------------

TEST_F(DbaseModuleTest, ShutdownRewritesTheBufferFileAndEachStartReloadsIt) {
    DbaseIni().Save(root_);
    Spill(buffer_, "stale");
    const Lines kept = Relayed("kept", 0, 10), late = Relayed("late", 20, 15);
    Start();
    Queue(kept);
    ASSERT_EQ(Events().Report(6, "not stored"), core::kOk);
    for (const std::string& line : late) Submit(line);  // still in the intake at shutdown
    Stop();
    // The whole file replaced: the queue in order, then what the intake still held.
    const std::string bytes = ReadWholeFile(buffer_);
    const Lines stored = LogLines(buffer_);
    ASSERT_EQ(stored.size(), kept.size() + late.size());
    EXPECT_EQ(Lines(stored.begin(), stored.begin() + kept.size()), kept);
    EXPECT_EQ(Sorted(Lines(stored.begin() + kept.size(), stored.end())), Sorted(late));
    EXPECT_EQ(FileNames(logs_), Lines{"log_last.log"});

    // Every whole line comes back as an Archive event with its own sender and
    // time; an unfinished last line is dropped.
    const std::string cut = platform::Utf8ToUtf16LEBytes("<13>cut off|a2;10.0.0.9;");
    Spill(buffer_, bytes + cut);
    const Records startup = Start();
    EXPECT_TRUE(Has(startup, kLoading + buffer_.string()));
    EXPECT_TRUE(Has(startup, kLoaded + std::to_string(bytes.size() + cut.size()) + " байт)"));
    EXPECT_EQ(ArchiveLines(startup), Sorted(kept + late));

    // A service stop and start carries the queue the same way.
    const Lines fresh = Relayed("fresh", 50, 3), last = Relayed("last", 60, 1);
    Queue(fresh);
    ASSERT_TRUE(module_->Stop(Blocking::Yes));
    EXPECT_FALSE(module_->Stop(Blocking::Yes));
    EXPECT_EQ(ReadWholeFile(buffer_), Stored(fresh));
    EXPECT_EQ(Events().QueueCount(), 0u);
    ASSERT_TRUE(module_->Start(Blocking::Yes));
    EXPECT_FALSE(module_->Start(Blocking::Yes));
    EXPECT_EQ(ArchiveLines(AwaitStartup()), Sorted(fresh));
    // The reloaded events were taken: the file then holds only what is left.
    Queue(last);
    Stop();
    EXPECT_EQ(ReadWholeFile(buffer_), Stored(last));
}

// With System events selected, the program's own reports are stored with
// their text and a priority, and come back with text, severity and time,
// bars and all.
TEST_F(DbaseModuleTest, SystemEventsAreStoredWithTheirTextAndComeBackAsTheyWere) {
    DbaseIni().Number("Common.EventParam", 0x78, 1).Save(root_);
    Start();
    ASSERT_EQ(Events().Report(3, "Ошибка диска: 100% <занято> | sda|a2;sdb"), core::kOk);
    Stop();
    const Lines stored = LogLines(buffer_);
    const auto own = std::find_if(stored.begin(), stored.end(), [](const std::string& line) {
        return line.rfind("<43>Ошибка диска: 100% <занято> | sda|a2;sdb|a2;127.0.0.1;", 0) == 0;
    });
    ASSERT_NE(own, stored.end()) << ReadWholeFile(buffer_).size() << " bytes in the buffer file";
    const Records archive = Archive(Start());
    EXPECT_EQ(ArchiveLines(archive), Sorted(stored)) << "every stored line comes back";
    const auto back = std::find_if(archive.begin(), archive.end(), [](const core::EventRecord& e) {
        return e.Message().rfind("Ошибка диска", 0) == 0;
    });
    ASSERT_NE(back, archive.end());
    EXPECT_EQ(back->severity, 3u);
    EXPECT_EQ(back->facility, core::kDefaultFacility);
    EXPECT_EQ(back->sender, "127.0.0.1");
    EXPECT_EQ(back->Message(), "Ошибка диска: 100% <занято> | sda|a2;sdb");
    EXPECT_EQ(back->Raw(), "<43>" + std::string(back->Message()));
}

TEST_F(DbaseModuleTest, OwnLogFormatIsWrittenAndReloadsAsPlainText) {
    DbaseIni().Text("Common.StrLogFormat", "%s [%s] %.2u.%.2u.%u %.2u:%.2u:%.2u.%.3u").Save(root_);
    RunOnce({"<13>kept|a2;10.0.0.7;6 12 2026 8 5 9 7;"});
    const Records archive = Archive(Start());
    // Without the relay suffix the line comes back whole, from the loader.
    ASSERT_EQ(archive.size(), 1u);
    EXPECT_EQ(archive[0].Raw(), "<13>kept [10.0.0.7] 06.12.2026 08:05:09.007");
    EXPECT_EQ(archive[0].sender, "127.0.0.1");
    EXPECT_FALSE(archive[0].relayed);
}

// Found by fuzzing: an event without raw text ("<13", a line of blanks) is
// stored as the bare suffix, which the intake refuses at the next start; the
// reload then lost it without a word.
TEST_F(DbaseModuleTest, BufferLinesTheIntakeRefusesAreToldOnStderr) {
    DbaseIni().Save(root_);
    const std::string kept = "<13>kept|a2;10.0.0.7;6 12 2026 8 5 9 7;";
    Spill(buffer_, Stored({kept, "|a2;10.0.0.8;6 12 2026 8 5 9 7;", "stray"}));
    ::testing::internal::CaptureStderr();
    const Records startup = Start();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(ArchiveLines(startup), Lines{kept});
    EXPECT_NE(err.find("2 lines of " + buffer_.string() + " are no event lines"), std::string::npos) << err;
}

TEST_F(DbaseModuleTest, StopBeforeTheFirstWakeUpKeepsTheOldBufferLines) {
    // The worker would first wake after a minute: the stop comes long before.
    DbaseIni().Number("Common.Timeout", 60000).Save(root_);
    const Lines old = Relayed("old", 0, 5), fresh = Relayed("fresh", 10, 3);
    Spill(buffer_, Stored(old));
    Start(false);
    Queue(fresh);
    Stop();
    EXPECT_EQ(Sorted(LogLines(buffer_)), Sorted(old + fresh));
}

// ---- file errors ----------------------------------------------------------------

TEST_F(DbaseModuleTest, UnwritableTargetKeepsItsLinesUntilWrittenOrShutdown) {
    DbaseIni().Targets({"fixed.log", "second.log"}).Save(root_);
    const fs::path blocked = logs_ / "fixed.log", healthy = logs_ / "second.log";
    fs::create_directories(blocked);  // a folder where the file would be
    Start();
    const uint32_t errors = module_->ErrorCount();
    const Lines first = Relayed("first", 0, 21), second = Relayed("second", 100, 21), third = Relayed("third", 200, 21);
    const Records failed = WriteBatch(first, 2);
    EXPECT_TRUE(Has(failed, FileError(blocked, EISDIR)));
    EXPECT_FALSE(Has(failed, kSaved + blocked.string()));
    EXPECT_TRUE(Has(failed, kSaved + healthy.string()));
    EXPECT_EQ(module_->ErrorCount(), errors + 1);

    fs::remove(blocked);
    const Records recovered = WriteBatch(second, 2);
    EXPECT_TRUE(Has(recovered, kSaved + blocked.string()));
    EXPECT_FALSE(Has(recovered, kFileError, true));
    EXPECT_EQ(ReadWholeFile(healthy), Stored(first + second));
    Stop();  // nothing is left over for the final flush
    EXPECT_EQ(ReadWholeFile(blocked), Stored(first + second));
    EXPECT_EQ(ReadWholeFile(buffer_), "");

    // Lines a target never took go to the buffer file at shutdown, ahead of
    // the queue's, and only those: a target written just before the failing
    // one must not lend it what it wrote.
    fs::remove(blocked);
    fs::create_directories(blocked);
    DbaseIni().Targets({"second.log", "fixed.log"}).Save(root_);
    Start();
    WriteBatch(third, 1);
    const Lines queued = Relayed("queued", 50, 4);
    Queue(queued);
    Stop();
    EXPECT_EQ(ReadWholeFile(buffer_), Stored(third + queued));
}

// Two targets that fail from different batches on: at shutdown the buffer
// file gets what either missed once, oldest first, then the queue.
TEST_F(DbaseModuleTest, LinesSeveralFailingTargetsMissedGoToTheBufferFileOnceInOrder) {
    DbaseIni().Targets({"a.log", "b.log"}).Save(root_);
    fs::create_directories(logs_ / "a.log");
    Start();
    const Lines first = Relayed("zfirst", 0, 21), second = Relayed("second", 100, 21), queued = Relayed("queued", 50, 4);
    EXPECT_TRUE(Has(WriteBatch(first, 2), kSaved + (logs_ / "b.log").string()));
    fs::remove(logs_ / "b.log");
    fs::create_directories(logs_ / "b.log");
    // a.log's failure goes on without a second report; b.log's is new.
    const Records failed = WriteBatch(second, 1);
    EXPECT_FALSE(Has(failed, kSaved, true));
    EXPECT_TRUE(Has(failed, FileError(logs_ / "b.log", EISDIR)));
    EXPECT_FALSE(Has(failed, FileError(logs_ / "a.log", EISDIR)));
    Queue(queued);
    Stop();
    EXPECT_EQ(LogLines(buffer_), first + second + queued);
}

TEST_F(DbaseModuleTest, UnreadableBufferFileIsNeverOverwritten) {
    DbaseIni().Save(root_);
    fs::create_directories(buffer_ / "inside");  // reading it fails with EISDIR
    const fs::path next = buffer_.string() + ".next";
    const Lines first = Relayed("first", 0, 3), second = Relayed("second", 0, 2);
    EXPECT_TRUE(Has(RunOnce(first), FileError(buffer_, EISDIR)));
    EXPECT_EQ(ReadWholeFile(next), Stored(first));
    // Nothing reads the first run's events back: the next run adds its own.
    RunOnce(second);
    EXPECT_EQ(Sorted(LogLines(next)), Sorted(first + second));
    EXPECT_TRUE(fs::is_directory(buffer_ / "inside"));
}

// ---- rotation and retention ------------------------------------------------------------

// Seconds since 1970 of a local time.
int64_t LocalUnix(int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = 2026 - 1900, t.tm_mon = 11, t.tm_mday = day, t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
    t.tm_isdst = -1;
    return int64_t(std::mktime(&t));
}

TEST_F(DbaseModuleTest, SizeRotationSpreadsTheLogOverFilesThatReadInTurnAsTheWholeLog) {
    DbaseIni().Targets({"rot.log", "plain.log"}).Number("Item.0-RotateSize", 1).Save(root_);
    Start();
    // Three floods of about 1 MB each, drained in batches as they come.
    Lines all;
    for (int flood = 0; flood < 3; ++flood) {
        Lines lines;
        for (int n = 0; n < 10000; ++n)
            lines.push_back("<13>flood " + std::to_string(flood) + " line " + std::to_string(n) + "|a2;10.0.0.7;6 12 2026 8 5 9 " +
                            std::to_string(n % 1000) + ";");
        Flood(lines);
        all = all + lines;
        const uintmax_t bytes = Stored(all).size();
        ASSERT_TRUE(WaitUntil([&] {
            std::error_code ec;
            return fs::file_size(logs_ / "plain.log", ec) == bytes && !ec;
        })) << "flood " << flood;
    }
    Stop();
    std::string joined;
    size_t files = 0;
    for (std::string name = "rot.log"; fs::exists(logs_ / name); name = "rot-" + std::to_string(++files) + ".log") {
        const std::string bytes = ReadWholeFile(logs_ / name);
        EXPECT_EQ(Stored(LogLines(logs_ / name)), bytes) << name << " holds whole lines only";
        const bool last = !fs::exists(logs_ / ("rot-" + std::to_string(files + 1) + ".log"));
        // A file passes its size by less than a piece of the batch.
        if (!last) {
            EXPECT_TRUE(bytes.size() >= kRotateUnitBytes && bytes.size() < kRotateUnitBytes + 140 * 1024) << name;
        }
        joined += bytes;
    }
    EXPECT_GE(files, 3u);
    EXPECT_EQ(joined, ReadWholeFile(logs_ / "plain.log"));
    EXPECT_EQ(Sorted(LogLines(logs_ / "plain.log")), Sorted(all));
}

TEST_F(DbaseModuleTest, MidnightRotationNamesTheFileOnceAndStartsAnotherOnTheNewDay) {
    DbaseIni().Targets({kDefaultLogNameFormat}).Number("Item.0-RotateMidnight", 1, 1).Save(root_);
    Start();
    clock_ = LocalUnix(6, 23, 59, 58);
    module_->SetClock([this] { return clock_.load(); });
    const Lines a = Relayed("a", 0, 21), b = Relayed("b", 100, 21), c = Relayed("c", 200, 21);
    WriteBatch(a, 1);
    clock_ = LocalUnix(6, 23, 59, 59);
    WriteBatch(b, 1);
    clock_ = LocalUnix(7, 0, 0, 1);
    WriteBatch(c, 1);
    EXPECT_EQ(FileNames(logs_), (Lines{"log_06122026_235958.log", "log_07122026_000001.log"}));
    EXPECT_EQ(ReadWholeFile(logs_ / "log_06122026_235958.log"), Stored(a + b));
    EXPECT_EQ(ReadWholeFile(logs_ / "log_07122026_000001.log"), Stored(c));
}

TEST_F(DbaseModuleTest, ARestartedTargetTakesItsFileUpAgainUntilItNoLongerQualifies) {
    DbaseIni().Targets({kDefaultLogNameFormat}).Number("Item.0-RotateSize", 1).Number("Item.0-RotateMidnight", 1, 1).Save(root_);
    const Lines a = Relayed("a", 0, 21), b = Relayed("b", 100, 21), c = Relayed("c", 200, 21);
    Start();
    WriteBatch(a, 1);
    Stop();
    const Lines files = FileNames(logs_);
    ASSERT_EQ(files.size(), 2u);  // the log and log_last.log
    const fs::path first = logs_ / files[0];
    Start();
    // A later second, which the format alone would give a file of its own.
    const uint16_t second = platform::LocalTimeNow().second;
    ASSERT_TRUE(WaitUntil([&] { return platform::LocalTimeNow().second != second; }));
    WriteBatch(b, 1);
    EXPECT_EQ(FileNames(logs_), files);
    EXPECT_EQ(ReadWholeFile(first), Stored(a + b));
    // Last written yesterday: midnight has passed for it.
    Stop();
    fs::last_write_time(first, fs::last_write_time(first) - std::chrono::hours(25));
    Start();
    WriteBatch(c, 1);
    const Lines now = FileNames(logs_);
    ASSERT_EQ(now.size(), 3u);
    EXPECT_EQ(ReadWholeFile(first), Stored(a + b));
    for (const std::string& name : now) {
        if (name != files[0] && name != files[1]) {
            EXPECT_EQ(ReadWholeFile(logs_ / name), Stored(c));
        }
    }
}

TEST_F(DbaseModuleTest, RetentionDeletesOnlyTheTargetsOwnOldestFilesAndSaysSo) {
    // The buffer file is named so that the target's format could have named it.
    const std::string buffer = "log_01011999_000000.log";
    DbaseIni().Text("Common.StrLastLog", buffer).Targets({kDefaultLogNameFormat, "other_%u.log"})
        .Number("Item.0-KeepFiles", 3).Save(root_);
    const auto plant = [&](const std::string& name, int hoursAgo) {
        Spill(logs_ / name, "");
        fs::last_write_time(logs_ / name, fs::file_time_type::clock::now() - std::chrono::hours(hoursAgo));
    };
    // Ranked by last write, not by the date in the name.
    plant("log_01012026_000000.log", 30), plant("log_31122025_000000.log", 20);
    plant("log_02012026_000000-1.log", 10), plant("log_05012026_000000.log", 5);
    for (const char* foreign : {"other_1.log", "notes.txt", "log_01012026_000000.log.bak", "log_1_2.log"}) plant(foreign, 100);
    plant(buffer, 100);
    fs::create_directories(logs_ / "log_01012020_000000.log");
    fs::create_symlink(logs_ / "notes.txt", logs_ / "log_01012019_000000.log");
    Start();
    Lines kept = FileNames(logs_);
    const Records first = Deleting(Relayed("a", 0, 21), 2);
    for (const char* gone : {"log_01012026_000000.log", "log_31122025_000000.log"}) {
        EXPECT_TRUE(Has(first, kDeleted + (logs_ / gone).string())) << gone;
        std::erase(kept, gone);
    }
    const Lines written = FileNames(logs_);
    ASSERT_EQ(written.size(), kept.size() + 2);  // and each target's new file
    EXPECT_TRUE(std::includes(written.begin(), written.end(), kept.begin(), kept.end()));

    // By age: a day kept, the file written 30 hours ago goes.
    LogTarget target = *module_->Record(0);
    target.keepFiles = 0, target.keepDays = 1;
    ASSERT_TRUE(module_->ReplaceRecord(0, target));
    plant("log_03012026_000000.log", 30);
    EXPECT_TRUE(Has(Deleting(Relayed("b", 0, 21), 1), kDeleted + (logs_ / "log_03012026_000000.log").string()));
    for (const std::string& name : written) EXPECT_TRUE(fs::exists(logs_ / name)) << name;
}

// A full disk (/dev/full says ENOSPC to every write) and a rotation whose
// new file cannot be made: each told once, and every line arrives later.
TEST_F(DbaseModuleTest, FailedWritesAreToldOncePerEpisodeAndTheirLinesArriveLater) {
    DbaseIni().Targets({"r.log", "full.log"}).Number("Item.0-RotateSize", 1).Save(root_);
    const std::string planted(kRotateUnitBytes - 2, 'a');  // taken up, then full
    Spill(logs_ / "r.log", planted);
    fs::create_symlink("/dev/full", logs_ / "full.log");
    Start();
    const uint32_t errors = module_->ErrorCount();
    const Lines a = Relayed("a", 0, 21), b = Relayed("b", 100, 21), c = Relayed("c", 200, 21), d = Relayed("d", 300, 21);
    const Records first = WriteBatch(a, 2);
    EXPECT_TRUE(Has(first, FileError(logs_ / "full.log", ENOSPC)));
    EXPECT_TRUE(Has(first, kSaved + (logs_ / "r.log").string()));

    // No log folder: r.log is full and its next file cannot be made.
    const fs::path away = logs_.string() + ".away";
    fs::rename(logs_, away);
    Spill(logs_, "");
    const Records second = WriteFailing(b, errors + 3);
    EXPECT_TRUE(Has(second, FileError(logs_ / "r.log", ENOTDIR)));
    EXPECT_EQ(std::count_if(second.begin(), second.end(), [](const core::EventRecord& e) { return Has({e}, kFileError, true); }), 1);
    EXPECT_FALSE(Has(WriteFailing(c, errors + 5), kFileError, true)) << "the same episodes";

    fs::remove(logs_);
    fs::rename(away, logs_);
    fs::remove(logs_ / "full.log");
    const Records recovered = WriteBatch(d, 2);
    EXPECT_FALSE(Has(recovered, kFileError, true));
    EXPECT_TRUE(Has(recovered, kSaved + (logs_ / "r-1.log").string()));
    EXPECT_EQ(ReadWholeFile(logs_ / "r.log"), planted + Stored(a));
    EXPECT_EQ(ReadWholeFile(logs_ / "r-1.log"), Stored(b + c + d));
    EXPECT_EQ(ReadWholeFile(logs_ / "full.log"), Stored(a + b + c + d));
}

// ---- settings -------------------------------------------------------------------------

TEST_F(DbaseModuleTest, FileNamesFromSettingsStayInTheLogFolder) {
    DbaseIni().Text("Common.StrLastLog", "../../etc/x").Targets({"../x_%u.log", "sub/log.log", "..\\y.log"}).Save(root_);
    EXPECT_TRUE(Has(Start(), kLoading + buffer_.string()));
    WriteBatch(Relayed("batch", 0, 21), 3);
    Queue(Relayed("left", 0, 2));
    Stop();
    EXPECT_EQ(ReadWholeFile(buffer_), Stored(Relayed("left", 0, 2)));
    // Everything written lies directly in the log folder, or is a settings file.
    for (const auto& entry : fs::recursive_directory_iterator(temp_.path())) {
        const fs::path folder = entry.path().parent_path();
        EXPECT_TRUE(!entry.is_regular_file() || folder == logs_ || folder == root_ / "Settings") << entry.path();
    }
    EXPECT_FALSE(fs::exists(logs_ / "sub"));
}

// The module on its own, without the rest of the program.
struct Offline {
    explicit Offline(const fs::path& home) {
        core.paths = core::Paths::Build(home / "quillmark", home);
        core.config = std::make_unique<core::Config>(core.paths.settingsFolder);
        fs::create_directories(core.paths.settingsFolder);
        module.LoadSection();
    }
    core::CoreContext core;
    DbaseModule module{core};
};

TEST_F(DbaseModuleTest, UnusableFormatsFromTheFileOrASetterBecomeTheDefaults) {
    DbaseIni().Text("Common.StrLogFormat", "%n%s").Text("Common.StrLastLog", "../x").Targets({"../y_%u.log"}).Save(root_);
    Offline offline(root_);
    DbaseModule& module = offline.module;
    EXPECT_EQ(module.Common()->logFormat, kDefaultLogFormat);
    EXPECT_EQ(module.Common()->lastLogFile, kDefaultLastLog);
    EXPECT_EQ(module.Record(0)->logNameFormat, kDefaultLogNameFormat);
    DbaseCommon common;
    common.lastLogFile = "../../etc/x";
    for (const char* format : {"%s %d", "%s;%s;%u.%u.%u %u:%u:%u.%u"}) {
        common.logFormat = format;
        ASSERT_TRUE(module.SetCommon(common));
        EXPECT_EQ(module.Common()->logFormat, format[2] == ';' ? format : kDefaultLogFormat);
        EXPECT_EQ(module.Common()->lastLogFile, kDefaultLastLog);
    }
    // On a new target and over target 0, where an unusable format also replaces a usable one.
    LogTarget target;
    for (const char* format : {"../x_%u.log", "day_%.2u%.2u%.4u.log", "%s.log", "sub/log.log"}) {
        const std::string expected = format[0] == 'd' ? format : kDefaultLogNameFormat;
        target.logNameFormat = format;
        const auto added = module.AddRecord(target);
        ASSERT_TRUE(added);
        EXPECT_EQ(module.Record(*added)->logNameFormat, expected);
        ASSERT_TRUE(module.ReplaceRecord(0, target));
        EXPECT_EQ(module.Record(0)->logNameFormat, expected);
    }
}

// A legacy section: the common block, and targets as records of their own.
void SaveLegacy(const fs::path& home, const Lines& targetNames) {
    std::vector<uint8_t> common(kLegacyDbaseCommonSize, 0);
    Put(common, 0, "old_last.log"), Put(common, 128, "%s;%s;%u.%u.%u %u:%u:%u.%u");
    Put<uint8_t>(common, 256, 0x30), Put<uint32_t>(common, 260, 2500), Put<uint32_t>(common, 264, 300);
    platform::ProfileFile file;
    file.WriteStruct(kSection, "Common", common);
    if (!targetNames.empty()) file.WriteString(kSection, "Count", std::to_string(targetNames.size()));
    for (size_t i = 0; i < targetNames.size(); ++i) {
        std::vector<uint8_t> target(kLegacyTargetSize, 0);
        Put<uint8_t>(target, 0, i == 0), Put(target, 2, targetNames[i]), Put(target, 130, targetNames[i] + "_%.2u.log");
        file.WriteStruct(kSection, "Item." + std::to_string(i), target);
    }
    fs::create_directories(home / "Settings");
    ASSERT_TRUE(file.Save(home / "Settings" / "mod_dbase.ini"));
}

TEST_F(DbaseModuleTest, LegacySectionIsReadAndSavedInTheCurrentForm) {
    SaveLegacy(root_, {"Main", "Журнал"});
    const auto check = [](DbaseModule& module) {
        const DbaseCommon c = *module.Common();
        EXPECT_EQ(std::tie(c.lastLogFile, c.logFormat, c.eventParam, c.timeout, c.msgLimit),
                  std::make_tuple(std::string("old_last.log"), std::string("%s;%s;%u.%u.%u %u:%u:%u.%u"), uint8_t(0x30),
                                  2500u, 300u));
        ASSERT_TRUE(module.Record(1));
        EXPECT_FALSE(module.Record(2));
        const LogTarget t0 = *module.Record(0), t1 = *module.Record(1);
        EXPECT_EQ(std::tie(t0.enable, t0.name, t0.logNameFormat, t0.primary),
                  std::make_tuple(uint8_t(1), std::string("Main"), std::string("Main_%.2u.log"), true));
        EXPECT_EQ(std::tie(t1.enable, t1.name, t1.logNameFormat, t1.primary),
                  std::make_tuple(uint8_t(0), std::string("Журнал"), std::string("Журнал_%.2u.log"), false));
    };
    {
        Offline offline(root_);
        check(offline.module);
        ASSERT_TRUE(offline.module.SaveSection());
    }
    const auto saved = platform::ProfileFile::Load(root_ / "Settings" / "mod_dbase.ini");
    EXPECT_EQ(saved.Get(kSection, "Version"), "2");
    for (const char* legacy : {"Common", "Count", "Item.0", "Item.1"}) EXPECT_FALSE(saved.Get(kSection, legacy)) << legacy;
    Offline reloaded(root_);
    check(reloaded.module);  // the current form reads back the same

    // A legacy section without targets gets the default one.
    SaveLegacy(root_, {});
    Offline bare(root_);
    EXPECT_EQ(bare.module.Common()->msgLimit, 300u);
    ASSERT_TRUE(bare.module.Record(0));
    EXPECT_FALSE(bare.module.Record(1));
    const LogTarget d = *bare.module.Record(0);
    EXPECT_EQ(std::tie(d.enable, d.name, d.logNameFormat, d.primary),
              std::make_tuple(uint8_t(1), std::string("Default"), std::string(kDefaultLogNameFormat), true));
}

TEST_F(DbaseModuleTest, ACountBeyondTheWrittenTargetsBringsNoGhostAndAMissingEnableIsOff) {
    DbaseIni().Number("ItemCount", 3).Number("Item.0-Enable", 1, 1).Text("Item.0-StrName", "Main")
        .Text("Item.0-StrLogNameFormat", "main_%.2u.log")
        .Text("Item.1-StrName", "Half")  // no Enable; Item.2 not there at all
        .Save(root_);
    Offline offline(root_);
    DbaseModule& module = offline.module;
    ASSERT_TRUE(module.Record(1));
    EXPECT_FALSE(module.Record(2)) << "a target the file does not hold";
    const LogTarget t0 = *module.Record(0), t1 = *module.Record(1);
    EXPECT_EQ(std::tie(t0.enable, t0.name, t0.logNameFormat), std::make_tuple(uint8_t(1), std::string("Main"), std::string("main_%.2u.log")));
    EXPECT_EQ(std::tie(t1.enable, t1.name), std::make_tuple(uint8_t(0), std::string("Half")));
    // Without the rotation keys nothing rotates and nothing is deleted; they are saved as such.
    EXPECT_EQ(std::tie(t0.rotateSize, t0.rotateMidnight, t0.keepFiles, t0.keepDays), std::make_tuple(0u, uint8_t(0), 0u, 0u));
    ASSERT_TRUE(module.SaveSection());
    const auto saved = platform::ProfileFile::Load(root_ / "Settings" / "mod_dbase.ini");
    EXPECT_EQ(saved.Get(kSection, "ItemCount"), "0200000002");
    EXPECT_EQ(saved.Get(kSection, "Item.1-Enable"), "0000");
    EXPECT_EQ(saved.Get(kSection, "Item.0-StrLogNameFormat"), "main_%.2u.log");
    EXPECT_EQ(saved.Get(kSection, "Item.0-RotateSize"), "0000000000");
    EXPECT_EQ(saved.Get(kSection, "Item.1-RotateMidnight"), "0000");
    EXPECT_FALSE(saved.Get(kSection, "Item.2-Enable"));
}

TEST_F(DbaseModuleTest, RotationKeysAreReadAndBroughtIntoTheirRanges) {
    DbaseIni().Targets({"a.log"}).Number("Item.0-RotateSize", 5000000).Number("Item.0-RotateMidnight", 1, 1)
        .Number("Item.0-KeepFiles", 12).Number("Item.0-KeepDays", 99999).Save(root_);
    Offline offline(root_);
    const LogTarget t = *offline.module.Record(0);
    EXPECT_EQ(std::tie(t.rotateSize, t.rotateMidnight, t.keepFiles, t.keepDays),
              std::make_tuple(kMaxRotateSizeMb, uint8_t(1), 12u, kMaxKeepDays));
}

}  // namespace
}  // namespace qm::processing
