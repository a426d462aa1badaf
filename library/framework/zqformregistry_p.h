#pragma once
// The classes the form reader may create, looked up by name. The registry
// is shared by every thread; the lookup hands back a copy of the factory.
#include "zqformstream.h"

#include <string>

namespace zq::framework {

// An empty factory when no class of that name was registered.
TComponentFactory FindComponentClass(const std::string& className);

} // namespace zq::framework
