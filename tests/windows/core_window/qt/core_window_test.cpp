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

#include "processing/dns/dns_module.h"
#include "windows/core_window/core_menu.h"
#include "windows/core_window/qt/core_environment.h"
#include "windows/core_window/qt/core_window.h"
#include "windows/qt/frame.h"
#include "windows/qt/icon_set.h"
#include "windows/info_box/qt/info_box_content.h"
#include "windows/qt/program_windows_fixture.h"

namespace qm::windows::qt {
namespace {

using namespace std::chrono_literals;
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
        return lock ? (running = on, true) : false;
    }
};

// A poller's cycle: a module's lock held by another thread until released.
// It lets go by itself after a minute, so a start or stop run on the GUI
// thread fails the test instead of hanging it.
class HeldLock {
public:
    HeldLock(core::CoreContext& core, core::Module& module)
        : thread_([&] {
              platform::GuardedLock lock(module.Lock(), core.counters.locks, platform::Blocking::Yes);
              held_.set_value();
              release_.get_future().wait_for(60s);
          }) {
        held_.get_future().wait();
    }
    ~HeldLock() { Release(); }
    void Release() {
        if (!thread_.joinable()) return;
        release_.set_value();
        thread_.join();
    }

private:
    std::promise<void> held_, release_;
    std::thread thread_;
};

class CoreWindowTest : public test::ProgramWindowsOnQt {
protected:
    CoreWindowTest() : ProgramWindowsOnQt(false) {
        ProgramIcons().Load(fs::path(QM_SOURCE_DIR) / "resources/default-home/Resource/Icons");
        fs::copy_file(fs::path(QM_SOURCE_DIR) / "resources/default-home/Resource/ChangeLog.txt", core_.paths.changeLog);
        reader_ = core_.events->Tail();
        auto dns = processing::CreateDnsModule(core_);
        dns->LoadSection();
        core_.registry->Add(std::move(dns));
        for (uint16_t id : {core::kModuleCollector, core::kModuleRelay, core::kModuleHttpServer}) {
            auto service = std::make_unique<FakeService>(core_, id);
            services_.push_back(service.get());
            core_.registry->Add(std::move(service));
        }
        OpenWindows();
    }
    ~CoreWindowTest() override {
        environment_.reset();
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
        return std::all_of(services_.begin(), services_.end(), [&](const FakeService* s) { return s->running == on; });
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
    // Chooses the menu entry for `command` as the note's menu has it now.
    void Choose(CoreWindow& window, CoreCommand command) {
        const std::vector<CoreMenuItem> menu = window.Menu();
        const CoreMenuItem* item = Find(menu, command);
        ASSERT_TRUE(item && item->enabled);
        window.Carry(*item);
    }
    static const CoreMenuItem* Find(const std::vector<CoreMenuItem>& items, CoreCommand command) {
        for (const CoreMenuItem& item : items) {
            if (item.command == command) return &item;
            if (const CoreMenuItem* found = Find(item.submenu, command)) return found;
        }
        return nullptr;
    }
    // The entry as the menu has it now (the menu lives to the end of the call).
    static bool Enabled(CoreWindow& window, CoreCommand command) { return Find(window.Menu(), command)->enabled; }

    qm::testing::TempDir icons_{"qm-no-icons"};
    core::ReaderState reader_;
    std::vector<FakeService*> services_;  // owned by the registry
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

// Right-clicks the note and, once its menu is open, runs `use` on it from
// inside the menu's own loop.
void RightClick(CoreWindow& window, const std::function<void(QMenu&)>& use) {
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr || !menu->isVisible()) return;
        poll.stop();
        use(*menu);
    });
    poll.start(10);
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(10, 10), window.mapToGlobal(QPoint(10, 10)));
    QCoreApplication::sendEvent(&window, &click);
}

std::vector<std::string> MenuEntries(CoreWindow& window) {
    std::vector<std::string> entries;
    RightClick(window, [&](QMenu& menu) {
        entries = Entries(menu);
        menu.close();
    });
    return entries;
}

void ChooseByKeys(CoreWindow& window, std::vector<int> keys) {
    RightClick(window, [&](QMenu& menu) {
        for (int key : keys) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QCoreApplication::sendEvent(&menu, &press);
        }
    });
}

// The built-in set is drawn when an icon is first shown, not at load; what
// it shows is what drawing the whole set up front showed: each size's
// picture, the nearest larger one scaled between sizes, Qt's greyed look
// when disabled.
TEST(BuiltinIcons, ShowTheDrawnPictureOfEachSizeAndGreyWhenDisabled) {
    test::App();
    IconSet set;
    ASSERT_EQ(set.Load(fs::path(QM_SOURCE_DIR) / "no-such-folder"), 0);
    const QIcon icon = set.Icon(20);
    EXPECT_EQ(icon.availableSizes(), (QList<QSize>{{16, 16}, {24, 24}, {32, 32}, {48, 48}}));
    for (int size : {16, 24, 32, 48})
        EXPECT_EQ(icon.pixmap(size).toImage(), DrawBuiltinIcon(20, size)) << size;
    EXPECT_EQ(icon.pixmap(20).toImage(),
              DrawBuiltinIcon(20, 24).scaled(20, 20, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    EXPECT_NE(icon.pixmap(24, QIcon::Disabled).toImage(), DrawBuiltinIcon(20, 24));
    EXPECT_EQ(set.Icon(21).pixmap(32).toImage(), DrawBuiltinIcon(21, 32));
}

TEST_F(CoreWindowTest, WithoutATrayTheNoteStaysShownAndItsMenuLeadsToEverything) {
    CoreWindow& window = Start();
    ASSERT_FALSE(window.HasTray()) << "off-screen drawing has no tray";
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), "Quillmark");
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::FramelessWindowHint));
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(window.geometry(), QRect(work.right() + 1 - 310, work.bottom() + 1 - 90, 300, 80));
    const auto& lines = window.Lines();
    EXPECT_EQ(std::tie(lines[0].text, lines[0].color, lines[1].text, lines[1].color, lines[2].text),
              std::tuple("Quillmark работает", 0xC8C8C8u, "Используйте ПКМ для управления", 0x0064FF64u, ""));

    // Busy while start-up was going on, idle from the first tick after it.
    EXPECT_EQ(window.TrayIcon(), 8);
    // Well past the ten seconds a note is shown for, and closed: it stays.
    for (int second = 0; second < 15; ++second) window.Tick();
    EXPECT_EQ(window.TrayIcon(), 1);
    window.close();
    EXPECT_TRUE(window.isVisible());

    // The same menu a tray would give; the new home's hidden graphs sit in
    // their own submenu.
    EXPECT_EQ(MenuEntries(window), (std::vector<std::string>{"Syslog [x]", "Показать график / Program / Ping", "-",
                                                             "Управление службами / Запустить / Остановить",
                                                             "Настройки", "О программе...", "Выход"}));

    // The first entry hides the list; About shows its text, with the
    // home's change log, in an info box.
    FrameWidget* list = ShownFrame("Syslog");
    ASSERT_NE(list, nullptr);
    ChooseByKeys(window, {Qt::Key_Down, Qt::Key_Return});
    EXPECT_TRUE(PumpUntil([&] { return !list->isVisible(); }));
    ChooseByKeys(window, {Qt::Key_Up, Qt::Key_Up, Qt::Key_Return});
    FrameWidget* about = ShownFrame("О программе...");
    ASSERT_NE(about, nullptr);
    auto* box = dynamic_cast<InfoBoxContent*>(about->Content());
    ASSERT_NE(box, nullptr);
    const QString text = box->Text().toPlainText();
    EXPECT_TRUE(text.startsWith("\tQuillmark\nВерсия: 3.2\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("Журнал изменений Quillmark")) << text.toStdString();

    // The box joins the menu by the title its content gave it, as it has no name.
    const std::vector<std::string> entries = MenuEntries(window);
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(entries.begin(), entries.begin() + 3),
              (std::vector<std::string>{"Syslog", "О программе... [x]", "Показать график / Program / Ping"}));

    // The last entry ends the program.
    ChooseByKeys(window, {Qt::Key_Up, Qt::Key_Return});
    EXPECT_TRUE(core_.exitEvent.Wait(20s));
}

// The box About opened in an earlier run comes back with neither a name nor
// a title (its text is not kept): its entry says what it is, not its UID.
TEST_F(CoreWindowTest, AnUntitledInfoBoxGoesByItsKindInTheMenu) {
    CoreWindow& window = Start();
    WindowEntry box;
    box.enable = 1;
    box.type = kWindowInfoBox;
    box.param = kWindowVisible | kWindowToolFrame;
    ASSERT_TRUE(module_->AddWindow(box));
    const std::vector<std::string> entries = MenuEntries(window);
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[1], "Информационное окно [x]");
}

TEST_F(CoreWindowTest, ServicesStopAndStartOnAWorkerWhileAPollerHoldsItsLock) {
    CoreWindow& window = Start();
    ASSERT_TRUE(AllRunning(true));
    Reports();
    HeldLock poller(core_, *services_[1]);
    ASSERT_NO_FATAL_FAILURE(Choose(window, CoreCommand::StopServices));
    bool ticked = false;
    QTimer::singleShot(0, [&] { ticked = true; });
    EXPECT_TRUE(PumpUntil([&] { return ticked; }, 5s)) << "the GUI thread waited for the lock";
    EXPECT_TRUE(environment_->Services().Busy());
    EXPECT_FALSE(services_[0]->running) << "the collector, first in order, is stopped";
    EXPECT_TRUE(services_[1]->running) << "stopped although its lock was held";
    EXPECT_FALSE(Enabled(window, CoreCommand::StartServices));
    EXPECT_FALSE(Enabled(window, CoreCommand::StopServices));

    poller.Release();
    ASSERT_TRUE(PumpUntil([&] { return !environment_->Services().Busy(); }));
    EXPECT_TRUE(AllRunning(false));
    EXPECT_EQ(Reports(), std::vector<std::string>{"Запланировано обновление кэша службы определения имён"});
    ASSERT_NO_FATAL_FAILURE(Choose(window, CoreCommand::StartServices));
    ASSERT_TRUE(PumpUntil([&] { return !environment_->Services().Busy(); }));
    EXPECT_TRUE(AllRunning(true));
}

TEST_F(CoreWindowTest, ShutdownWaitsForAStopStillRunning) {
    CoreWindow& window = Start();
    HeldLock poller(core_, *services_[2]);
    ASSERT_NO_FATAL_FAILURE(Choose(window, CoreCommand::StopServices));

    // Ended from the thread that runs the core, as at shutdown.
    const QPointer<CoreWindow> gone(&window);
    std::atomic<bool> ended{false};
    std::thread shutdown([&] {
        environment_.reset();
        ended = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return gone.isNull(); }));
    EXPECT_FALSE(ended) << "the modules would be unloaded under a running stop";
    poller.Release();
    EXPECT_TRUE(PumpUntil([&] { return ended.load(); }));
    shutdown.join();
    EXPECT_TRUE(AllRunning(false));
}

}  // namespace
}  // namespace qm::windows::qt
