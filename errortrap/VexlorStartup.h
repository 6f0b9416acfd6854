#pragma once
// Start-up of the module: the configuration file and its defaults, the
// circular log, the development environment, the monitor and the banner.

#include <string>

namespace modVexlor {

// Initialises the module once per process; later calls return at once.
void vxSTART() noexcept;
std::string ClientIniName();

}  // namespace modVexlor
