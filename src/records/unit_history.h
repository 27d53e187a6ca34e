#pragma once

#include <string>

#include "records/record_source.h"

namespace morlane {

// Whether the unit's records prove that its CPU ("master" or "slave") holds exactly these
// bytes (by their SHA-256): the newest of its runs that touched the CPU erased, programmed
// and verified it with an image of that digest, and the whole run passed. A verify-only
// run, an image left as it was, a failed or stopped run proves nothing, and so ends any
// proof of an older run: the verify's 16-bit sums cannot tell two images apart, so only a
// burn says what the flash holds. False too when the records cannot be read: the CPU is
// then programmed as always.
bool LastPassedWith(RecordSource& records, const std::string& unitId, const std::string& cpu,
                    const std::string& sha256);

}  // namespace morlane
