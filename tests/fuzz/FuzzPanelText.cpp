// The panel's reading of typed numbers on arbitrary text: the leading number
// and the rounding raise nothing but their own run-time errors, text behind a
// number never changes it, and every tempo the panel writes reads back as the
// same value.

#include "PanelText.h"
#include "RunTimeError.h"

#include <QString>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const double leading = panel::LeadingNumber(text);
    const double followed = panel::LeadingNumber(text + QStringLiteral("x12.5"));
    if (!(leading == followed || (std::isnan(leading) && std::isnan(followed)))) std::abort();
    if (!std::isfinite(leading)) std::abort();
    try {
        panel::RoundToLong(leading);
    } catch (const vb::RunTimeError& e) {
        if (e.Number() != vb::errOverflow) std::abort();
    }
    if (size >= 4) {
        uint32_t raw;
        std::memcpy(&raw, data, 4);
        const int32_t milli = 60000 + static_cast<int32_t>(raw % 180001);
        const QString tempo = panel::TempoText(milli);
        if (panel::RoundToLong(panel::LeadingNumber(tempo) * 1000) != milli) std::abort();
    }
    return 0;
}
