// mod_modbus as the program loads it: its settings file in the current form,
// the catalog's factory, the service started with the others, and the file
// written back at shutdown.
#include <gtest/gtest.h>

#include "core/core_context.h"
#include "modules.h"
#include "polling/modbus_peer.h"
#include "support/program_home.h"
#include "transport/transport_test_support.h"

namespace qm::polling::modbus {
namespace {

// A number in `n` little-endian bytes, as the settings keys store it.
std::vector<uint8_t> Bytes(uint64_t v, size_t n) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

TEST(ModbusProgram, ANodeFromTheSettingsFileIsPolledAtStart) {
    qm::testing::ScriptedModbusServer server([](const qm::testing::ModbusRequest& r) {
        const std::string pdu{2, 0, 42};
        return qm::testing::ScriptedAnswer{{qm::testing::ModbusFrame(r.Transaction(), r.bytes[6], r.bytes[7], pdu)}};
    });
    qm::testing::ProgramHome home;
    home.Listen(qm::testing::FreePort());
    home.Edit("mod_modbus", [&](platform::ProfileFile& ini, const char* s) {
        ini.WriteString(s, "Version", "2");
        ini.WriteStruct(s, "Common.EnableService", Bytes(1, 1));
        ini.WriteStruct(s, "Common.Timeout", Bytes(0, 4));
        ini.WriteStruct(s, "Common.RepeatTimeout", Bytes(60000, 4));
        ini.WriteStruct(s, "ItemCount", Bytes(1, 4));
        ini.WriteStruct(s, "Item.0-Enable", Bytes(1, 1));
        ini.WriteString(s, "Item.0-StrName", "127.0.0.1");
        ini.WriteStruct(s, "Item.0-Param", Bytes(0x80, 1));
        ini.WriteStruct(s, "Item.0-Port", Bytes(server.Port(), 4));
        ini.WriteStruct(s, "Item.0-RegListID", Bytes(77, 8));
        ini.WriteStruct(s, "ListCount", Bytes(1, 4));
        ini.WriteStruct(s, "List.0-ListSize", Bytes(1, 4));
        ini.WriteStruct(s, "List.0-Enable", Bytes(1, 1));
        ini.WriteStruct(s, "List.0-ID", Bytes(77, 8));
        ini.WriteString(s, "List.0-StrOutFmt", "Value =[reg]");
        ini.WriteString(s, "List.0-item.0-StrTag", "reg");
        ini.WriteStruct(s, "List.0-item.0-Reg", Bytes(0, 2));
        ini.WriteStruct(s, "List.0-item.0-RegCount", Bytes(1, 2));
        ini.WriteStruct(s, "List.0-item.0-Func", Bytes(3, 1));
        ini.WriteStruct(s, "List.0-item.0-Unit", Bytes(5, 1));
        ini.WriteStruct(s, "List.0-item.0-Type", Bytes(128, 1));
        ini.WriteStruct(s, "List.0-item.0-Correct", Bytes(128, 1));
    });
    std::vector<core::ModuleDescriptor> catalog;
    for (const core::ModuleDescriptor& d : ProgramModules())
        if (d.id == core::kModuleModbus) catalog.push_back(d);
    ASSERT_EQ(catalog.size(), 1u);
    core::CoreContext core;
    core.paths = core::Paths::Build(home.Home() / "quillmark", home.Home());
    core.catalog = catalog;
    core::CoreStart(core);
    {
        qm::testing::EventLog log(*core.events);
        EXPECT_TRUE(log.WaitForSystem("Служба ModBusTCP запущена"));
        const auto event = log.WaitFor(qm::testing::EventLog::Of(core::kEventInternal, "MODBUS: "));
        ASSERT_TRUE(event);
        EXPECT_EQ(event->Message(), "MODBUS: Value =42");
        EXPECT_EQ(event->facility, 5u);
        const std::vector<qm::testing::ModbusRequest> requests = server.Requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests[0].bytes[6], 5);  // the unit as configured
    }
    core::CoreShutdown(core);
    const platform::ProfileFile saved = platform::ProfileFile::Load(home.Settings("mod_modbus"));
    EXPECT_EQ(saved.Get("mod_modbus", "List.0-item.0-StrTag"), "reg");
    EXPECT_EQ(saved.Get("mod_modbus", "Item.0-StrName"), "127.0.0.1");
}

}  // namespace
}  // namespace qm::polling::modbus
