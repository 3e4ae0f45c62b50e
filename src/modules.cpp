#include "modules.h"

#include <array>

#include "http/http_module.h"
#include "polling/icmp/icmp_module.h"
#include "polling/laurent/laurent_module.h"
#include "polling/modbus/modbus_module.h"
#include "polling/snmp/snmp_module.h"
#include "processing/dbase/dbase_module.h"
#include "processing/dns/dns_module.h"
#include "processing/rules/rules_module.h"
#include "transport/collector/collector_module.h"
#include "transport/relay/relay_module.h"

namespace qm {

using namespace core;

std::span<const ModuleDescriptor> ProgramModules() {
    // Modules join this table as they are built; a row without a factory is
    // simply not loaded, and finding its id gives nothing.
    static const std::array<ModuleDescriptor, 11> catalog{{
        {kModuleRules, "Module: Rules", "mod_rules", false, processing::CreateRulesModule},
        {kModuleDns, "Module: DNS", "mod_dns", false, processing::CreateDnsModule},
        {kModuleDbase, "Module: DBase", "mod_dbase", true, processing::CreateDbaseModule},
        {kModuleCollector, "Module: Collector", "mod_collector", true, transport::CreateCollectorModule},
        {kModuleRelay, "Module: Relay", "mod_relay", true, transport::CreateRelayModule},
        {kModuleSnmp, "Module: SNMP", "mod_snmp", true, polling::snmp::CreateSnmpModule},
        {kModuleIcmp, "Module: ICMP", "mod_icmp", true, polling::CreateIcmpModule},
        {kModuleLaurent, "Module: Laurent", "mod_laurent", true, polling::laurent::CreateLaurentModule},
        {kModuleModbus, "Module: ModBusTCP", "mod_modbus", true, polling::modbus::CreateModbusModule},
        {kModuleHttpServer, "Module: HTTPServer", "mod_httpserver", true, http::CreateHttpServerModule},
        {kModuleWindow, "Module: Window", "mod_window", false, nullptr},
    }};
    return catalog;
}

}  // namespace qm
