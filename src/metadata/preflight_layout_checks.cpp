#include "metadata/preflight.h"

namespace varn {

// Limits of the SACD structures themselves (for example the room of the
// Master Text) that depend on the planned layout. None yet.
std::vector<MetaIssue> preflight_layout_checks(const PackRun&, const AlbumMeta&) { return {}; }

}  // namespace varn
