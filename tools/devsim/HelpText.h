#pragma once

#include <string>

namespace devsim {

std::string helpText();

}  // namespace devsim
