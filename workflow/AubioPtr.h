#pragma once
// aubio's objects, released on every path.

#include <aubio/aubio.h>

#include <memory>

namespace velorizer::aubio {

struct Release {
    void operator()(fvec_t* p) const { del_fvec(p); }
    void operator()(cvec_t* p) const { del_cvec(p); }
    void operator()(aubio_pvoc_t* p) const { del_aubio_pvoc(p); }
    void operator()(aubio_fft_t* p) const { del_aubio_fft(p); }
    void operator()(aubio_specdesc_t* p) const { del_aubio_specdesc(p); }
    void operator()(aubio_pitch_t* p) const { del_aubio_pitch(p); }
};

template <typename T> using Ptr = std::unique_ptr<T, Release>;

}  // namespace velorizer::aubio
