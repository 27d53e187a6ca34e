#pragma once

#include <string>

#include "records/record_source.h"

namespace morlane {

// Whether the unit's last image on the CPU ("master" or "slave"), in the newest of its runs
// that tried one, passed with exactly these bytes (by their SHA-256). False when the unit
// has no such run, when that image failed, or when the records cannot be read: a CPU is
// then programmed as always.
bool LastPassedWith(RecordSource& records, const std::string& unitId, const std::string& cpu,
                    const std::string& sha256);

}  // namespace morlane
