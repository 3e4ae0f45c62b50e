#pragma once
// The program's modules in load order.
#include <span>

#include "core/module_registry.h"

namespace qm {

std::span<const core::ModuleDescriptor> ProgramModules();

}  // namespace qm
