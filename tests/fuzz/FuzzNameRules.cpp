// The tempo and key read from file names, on arbitrary bytes: in range, and
// the same whatever folder the name is in.

#include "NameRules.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    const std::optional<double> tempo = velorizer::TempoFromName(name);
    if (tempo && !(*tempo >= 30 && *tempo <= 300)) std::abort();
    const velorizer::NameKey key = velorizer::KeyFromName(name);
    if (key.rootIndex < 0 || key.rootIndex > 12 || (key.rootIndex > 0 && key.keys.empty())) std::abort();
    if (velorizer::TempoFromName("pack 120bpm/" + name) != tempo) std::abort();
    if (velorizer::KeyFromName("Key_C/" + name).rootIndex != key.rootIndex) std::abort();
    return 0;
}
