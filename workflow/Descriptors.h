#pragma once
// How many more descriptors this process may open now, under its limit. The
// walk and the batch run size their threads by it, so that reading ahead or
// tagging at once never takes from a file the descriptor its own listing or
// tagging needs: a low limit makes a run slower, never a file fail.

#include <cstddef>

namespace velorizer {

size_t SpareDescriptors();

}  // namespace velorizer
