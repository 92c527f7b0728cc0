// The errno value of a standard I/O call that just failed.
#pragma once

#include <cerrno>

namespace errors {

// Some failed calls leave errno as it was (set to 0 before the call); they
// count as an input/output error.
inline int last_errno() { return errno != 0 ? errno : EIO; }

} // namespace errors
