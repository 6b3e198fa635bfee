// The album as the job gives it, carried into the planned layout.
#pragma once

#include "frontend/pack_job.h"
#include "sacd/disc_layout.h"

namespace varn {

// The album fields of the job, track artists and ISRCs, copied into the
// layout.
void copy_album_fields(const PackJob& job, DiscLayout& layout);

}  // namespace varn
