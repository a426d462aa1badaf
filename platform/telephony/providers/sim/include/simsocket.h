#pragma once
// Where a program waiting on a simulated line can be reached by the others.
#include <string>

namespace zq::sim {

// The abstract socket name (without its leading NUL) where a program waiting
// on number listens, for the registry store in use. An owner that cannot
// listen there is refused its open with LINEERR_RESOURCEUNAVAIL and the
// reason on standard error ("already waiting in process N" when another
// program holds the name).
std::string WaitingLineSocketName(const std::string& number);

} // namespace zq::sim
