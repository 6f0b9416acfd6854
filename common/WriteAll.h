#pragma once
// Writes every byte to a descriptor, again after a signal and after a short
// write. False when the descriptor refuses; errno says why (ENOSPC where a
// write took nothing without an error).

#include <string_view>

namespace velorizer {

bool WriteAll(int fd, std::string_view bytes);

}  // namespace velorizer
