// The core window on real Qt widgets (off-screen, where there is no tray):
// the status note that stays, its menu, About, the tray icon's busy state,
// and services started and stopped on a worker while the GUI goes on.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include "core/core_context.h"
#include "core/string_table.h"
#include "processing/dns/dns_module.h"
#include "processing/rules/rules_module.h"
#include "support/temp_dir.h"
#include "windows/core_window/core_menu.h"
#include "windows/qt/core_environment.h"
#include "windows/qt/core_window.h"
#include "windows/qt/frame.h"
#include "windows/qt/icon_set.h"
#include "windows/qt/info_box_content.h"
#include "windows/qt/program_windows.h"
#include "windows/qt/qt_test_support.h"
#include "windows/window_module/window_module.h"

namespace qm::windows::qt {
namespace {

using namespace std::chrono_literals;
using test::App;
using test::FindTopLevel;
using test::PumpUntil;
namespace fs = std::filesystem;

// A service whose start and stop take its lock blocking, as the real ones do.
class FakeService : public core::Module {
public:
    FakeService(core::CoreContext& core, uint16_t id) : Module(core, id, "fake_" + std::to_string(id)) {}
    void Load(const core::SettingsSection&) override {}
    void SaveTo(core::SettingsSection&) override {}
    bool Start(platform::Blocking blocking) override { return Switch(blocking, true); }
    bool Stop(platform::Blocking blocking) override { return Switch(blocking, false); }
    std::atomic<bool> running{true};

private:
    bool Switch(platform::Blocking blocking, bool on) {
        platform::GuardedLock lock(Lock(), core_.counters.locks, blocking);
        if (!lock) return false;
        running = on;
        return true;
    }
};

class CoreWindowTest : public ::testing::Test {
protected:
    CoreWindowTest() {
        App();
        ProgramIcons().Load(fs::path(QM_SOURCE_DIR) / "resources/default-home/Resource/Icons");
        core_.paths = core::Paths::Build(home_.path() / "quillmark", home_.path());
        core_.paths.CreateFolders();
        fs::copy(fs::path(QM_SOURCE_DIR) / "resources/default-home/Settings", core_.paths.settingsFolder,
                 fs::copy_options::overwrite_existing | fs::copy_options::recursive);
        fs::copy_file(fs::path(QM_SOURCE_DIR) / "resources/default-home/Resource/ChangeLog.txt", core_.paths.changeLog);
        core_.config = std::make_unique<core::Config>(core_.paths.settingsFolder);
        core_.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
        core_.events = std::make_unique<core::EventCore>(core_.counters);
        reader_ = core_.events->Tail();
        core_.registry = std::make_unique<core::ModuleRegistry>(core_);
        core_.registry->Add(std::make_unique<processing::RulesModule>(core_));
        auto dns = processing::CreateDnsModule(core_);
        dns->LoadSection();
        core_.registry->Add(std::move(dns));
        for (uint16_t id : {core::kModuleCollector, core::kModuleRelay, core::kModuleHttpServer}) {
            auto service = std::make_unique<FakeService>(core_, id);
            services_.push_back(service.get());
            core_.registry->Add(std::move(service));
        }
        windows_ = std::make_unique<ProgramWindows>(core_);
        auto module = CreateWindowModule(core_, &windows_->System());
        module->LoadSection();
        core_.registry->Add(std::move(module));
    }
    ~CoreWindowTest() override {
        environment_.reset();
        core_.registry->UnloadAll();
        core_.registry.reset();
        windows_.reset();
        core_.events->Shutdown();
        ProgramIcons().Load(icons_.path());  // back to the built-in set
    }

    // The core window as start-up makes it: while start-up is still busy.
    CoreWindow& Start() {
        core_.counters.startupBusy = 1;
        environment_ = std::make_unique<CoreEnvironment>(core_);
        core_.counters.startupBusy = 0;
        return *environment_->Window();
    }
    bool AllRunning(bool on) const {
        for (const FakeService* s : services_)
            if (s->running != on) return false;
        return true;
    }
    std::vector<std::string> Reports() {
        core_.events->Settle(2000);
        std::vector<std::string> out;
        core::QueueSlice slice;
        while (core_.events->ReadNext(reader_, platform::Blocking::Yes, slice) == core::kOk) {
            for (const core::EventPtr& e : slice.Records()) out.emplace_back(e->Message());
            slice.Release();
        }
        return out;
    }
    static const CoreMenuItem* Find(const std::vector<CoreMenuItem>& items, CoreCommand command) {
        for (const CoreMenuItem& item : items) {
            if (item.command == command) return &item;
            if (const CoreMenuItem* found = Find(item.submenu, command)) return found;
        }
        return nullptr;
    }
    // A found entry points into the menu: the menu must outlive it.
    static const CoreMenuItem* Find(std::vector<CoreMenuItem>&&, CoreCommand) = delete;

    qm::testing::TempDir home_{"qm-core-window"};
    qm::testing::TempDir icons_{"qm-no-icons"};
    core::CoreContext core_;
    core::ReaderState reader_;
    std::vector<FakeService*> services_;
    std::unique_ptr<ProgramWindows> windows_;
    std::unique_ptr<CoreEnvironment> environment_;
};

// The entries of a shown menu, top to bottom, submenus after " / ".
std::vector<std::string> Entries(const QMenu& menu) {
    std::vector<std::string> out;
    for (const QAction* action : menu.actions()) {
        std::string text = action->isSeparator() ? "-" : action->text().toStdString();
        if (action->isChecked()) text += " [x]";
        if (!action->isEnabled()) text += " (off)";
        if (action->menu())
            for (const std::string& sub : Entries(*action->menu())) text += " / " + sub;
        out.push_back(text);
    }
    return out;
}

// Runs `use` on the next menu that opens, from inside its own loop, for as
// long as the returned timer lives.
[[nodiscard]] std::unique_ptr<QTimer> OnMenu(std::function<void(QMenu&)> use) {
    auto poll = std::make_unique<QTimer>();
    QObject::connect(poll.get(), &QTimer::timeout, [timer = poll.get(), use = std::move(use)] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr || !menu->isVisible()) return;
        timer->stop();
        use(*menu);
    });
    poll->start(10);
    return poll;
}

void Press(QWidget& to, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(&to, &press);
}

TEST_F(CoreWindowTest, WithoutATrayTheNoteStaysShownAndItsMenuLeadsToEverything) {
    CoreWindow& window = Start();
    ASSERT_FALSE(window.HasTray()) << "off-screen drawing has no tray";
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), "Quillmark");
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(window.size(), QSize(300, 80));
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(window.pos(), QPoint(work.right() + 1 - 310, work.bottom() + 1 - 90));
    EXPECT_EQ(window.Lines()[0].text, "Quillmark работает");
    EXPECT_EQ(window.Lines()[0].color, 0xC8C8C8u);
    EXPECT_EQ(window.Lines()[1].text, "Используйте ПКМ для управления");
    EXPECT_EQ(window.Lines()[1].color, 0x0064FF64u);
    EXPECT_EQ(window.Lines()[2].text, "");

    // Busy while start-up was going on, idle from the first tick after it.
    EXPECT_EQ(window.TrayIcon(), 8);
    // Well past the ten seconds a note is shown for, and closed: it stays.
    for (int second = 0; second < 15; ++second) window.Tick();
    EXPECT_EQ(window.TrayIcon(), 1);
    window.close();
    EXPECT_TRUE(window.isVisible());

    // The same menu a tray would give, from a right click on the note.
    std::vector<std::string> entries;
    const auto menu1 = OnMenu([&](QMenu& menu) {
        entries = Entries(menu);
        menu.close();
    });
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(10, 10), window.mapToGlobal(QPoint(10, 10)));
    QCoreApplication::sendEvent(&window, &click);
    // The new home's hidden graphs sit in their own submenu.
    EXPECT_EQ(entries, (std::vector<std::string>{"Syslog [x]", "Показать график / Program / Ping", "-",
                                                 "Управление службами / Запустить / Остановить", "Настройки",
                                                 "О программе...", "Выход"}));

    // The first entry hides the list; About shows its text in an info box.
    const auto list = [] { return FindTopLevel<FrameWidget>([](FrameWidget& f) { return f.windowTitle() == "Syslog"; }); };
    ASSERT_TRUE(PumpUntil([&] { return list() && list()->isVisible(); }));
    const auto menu2 = OnMenu([](QMenu& menu) {
        Press(menu, Qt::Key_Down);
        Press(menu, Qt::Key_Return);
    });
    QCoreApplication::sendEvent(&window, &click);
    EXPECT_TRUE(PumpUntil([&] { return !list()->isVisible(); }));

    const auto menu3 = OnMenu([](QMenu& menu) {
        Press(menu, Qt::Key_Up);
        Press(menu, Qt::Key_Up);
        Press(menu, Qt::Key_Return);
    });
    QCoreApplication::sendEvent(&window, &click);
    FrameWidget* about = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        about = FindTopLevel<FrameWidget>([](FrameWidget& f) { return f.windowTitle() == "О программе..."; });
        return about && about->isVisible();
    }));
    auto* box = dynamic_cast<InfoBoxContent*>(about->Content());
    ASSERT_NE(box, nullptr);
    const QString text = box->Text().toPlainText();
    EXPECT_TRUE(text.startsWith("\tQuillmark\nВерсия: 3.2\nСборка: 0, RU, Unicode\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("Условия использования:")) << text.toStdString();
    EXPECT_TRUE(text.contains("Журнал изменений Quillmark")) << text.toStdString();

    // The box joins the menu by the title its content gave it, as it has no name.
    const auto menu4 = OnMenu([&](QMenu& menu) {
        entries = Entries(menu);
        menu.close();
    });
    QCoreApplication::sendEvent(&window, &click);
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries[0], "Syslog");
    EXPECT_EQ(entries[1], "О программе... [x]");
    EXPECT_EQ(entries[2], "Показать график / Program / Ping");

    // The last entry ends the program.
    const auto menu5 = OnMenu([](QMenu& menu) {
        Press(menu, Qt::Key_Up);
        Press(menu, Qt::Key_Return);
    });
    QCoreApplication::sendEvent(&window, &click);
    EXPECT_TRUE(core_.exitEvent.Wait(20s));
}

TEST_F(CoreWindowTest, ServicesStopAndStartOnAWorkerWhileAPollerHoldsItsLock) {
    CoreWindow& window = Start();
    ASSERT_TRUE(AllRunning(true));
    Reports();

    // A poller's cycle: the relay's lock held by another thread. It lets go
    // by itself after a while, so a start or stop run on the GUI thread
    // fails the test instead of hanging it.
    std::promise<void> held, release;
    std::thread poller([&] {
        platform::GuardedLock lock(services_[1]->Lock(), core_.counters.locks, platform::Blocking::Yes);
        held.set_value();
        release.get_future().wait_for(60s);
    });
    held.get_future().wait();

    const std::vector<CoreMenuItem> before = window.Menu();
    const CoreMenuItem* stop = Find(before, CoreCommand::StopServices);
    ASSERT_TRUE(stop && stop->enabled);
    window.Carry(*stop);
    bool ticked = false;
    QTimer::singleShot(0, [&] { ticked = true; });
    EXPECT_TRUE(PumpUntil([&] { return ticked; }, 5s)) << "the GUI thread waited for the lock";
    EXPECT_TRUE(environment_->Services().Busy());
    EXPECT_FALSE(services_[0]->running) << "the collector, first in order, is stopped";
    EXPECT_TRUE(services_[1]->running) << "stopped although its lock was held";
    const std::vector<CoreMenuItem> meanwhile = window.Menu();
    EXPECT_FALSE(Find(meanwhile, CoreCommand::StartServices)->enabled);
    EXPECT_FALSE(Find(meanwhile, CoreCommand::StopServices)->enabled);

    release.set_value();
    poller.join();
    ASSERT_TRUE(PumpUntil([&] { return !environment_->Services().Busy(); }));
    EXPECT_TRUE(AllRunning(false));
    EXPECT_EQ(Reports(), std::vector<std::string>{"Запланировано обновление кэша службы определения имён"});

    const std::vector<CoreMenuItem> after = window.Menu();
    const CoreMenuItem* start = Find(after, CoreCommand::StartServices);
    ASSERT_TRUE(start && start->enabled);
    window.Carry(*start);
    ASSERT_TRUE(PumpUntil([&] { return !environment_->Services().Busy(); }));
    EXPECT_TRUE(AllRunning(true));
}

TEST_F(CoreWindowTest, ShutdownWaitsForAStopStillRunning) {
    CoreWindow& window = Start();
    std::promise<void> held, release;
    std::thread poller([&] {
        platform::GuardedLock lock(services_[2]->Lock(), core_.counters.locks, platform::Blocking::Yes);
        held.set_value();
        release.get_future().wait_for(60s);
    });
    held.get_future().wait();
    const std::vector<CoreMenuItem> menu = window.Menu();
    window.Carry(*Find(menu, CoreCommand::StopServices));

    // Ended from the thread that runs the core, as at shutdown.
    const QPointer<CoreWindow> gone(&window);
    std::atomic<bool> ended{false};
    std::thread shutdown([&] {
        environment_.reset();
        ended = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return gone.isNull(); }));
    EXPECT_FALSE(ended) << "the modules would be unloaded under a running stop";
    release.set_value();
    poller.join();
    EXPECT_TRUE(PumpUntil([&] { return ended.load(); }));
    shutdown.join();
    EXPECT_TRUE(AllRunning(false));
}

}  // namespace
}  // namespace qm::windows::qt
