// The test hooks: a fresh module state, and stand-ins for what the real
// program takes from its surroundings.

#include "VexlorTesting.h"

#include "VexlorMail.h"
#include "VexlorModule.h"

#include <memory>

namespace modVexlor::testhooks {

void Reset() {
    mail::FinishSending(std::chrono::milliseconds(0));  // a test's mail in flight is given up
    // A new object, not the old one wiped: nothing of a test outlives it.
    std::unique_ptr<detail::Module> old(detail::current);
    detail::current = new detail::Module;
}
void SetApplicationFolder(std::string folder) { detail::hooks.applicationFolder = std::move(folder); }
void SetExecutableName(std::string name) { detail::hooks.executableName = std::move(name); }
void SetDevelopmentEnvironment(std::optional<bool> value) { detail::hooks.developmentEnvironment = value; }
void SetMailTimeouts(long connectMs, long totalMs) {
    detail::hooks.mailConnectMs = connectMs;
    detail::hooks.mailTotalMs = totalMs;
}
void SetDecimalSeparator(std::optional<std::string> separator) {
    detail::hooks.decimalSeparator = std::move(separator);
}
SettingsType& MutableSettings() { return detail::TheModule().settings; }

}  // namespace modVexlor::testhooks
