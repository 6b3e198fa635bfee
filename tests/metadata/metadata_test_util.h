// Helpers of the metadata tests: the shared capture of both standard streams.
#pragma once

#include "support/capture.h"

namespace metatest {
using testsupport::capture;
using testsupport::contains;
using testsupport::Streams;
}  // namespace metatest
