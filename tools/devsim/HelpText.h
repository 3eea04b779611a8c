#pragma once

#include <string>

namespace vandrel::devsim {

std::string helpText();

}  // namespace vandrel::devsim
