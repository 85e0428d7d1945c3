// The dialog templates of both languages, by resource number (resources.cpp looks them up).
#pragma once

#include <map>

#include "resources/resources.h"

namespace res::detail {

const std::map<int, DialogTemplate>& DialogTables();

}  // namespace res::detail
