// What puts a broken installation right: the repair of the Windows
// Installer product that installed it, or install.cmd from its folder.
#ifndef KESTOR_CHECKER_REMEDY_H
#define KESTOR_CHECKER_REMEDY_H

#include <string>

#include "checker/installation.h"

// A Windows Installer product named "Kestor" in Add/Remove Programs (either
// registry view) gives "msiexec /fomus {ProductCode} /qn", preferring the one
// installed where the broker is; else install.cmd in the broker's folder.
std::string FindRemedy(const Installation &installation);

#endif  // KESTOR_CHECKER_REMEDY_H
