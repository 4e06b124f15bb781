// SPDX-License-Identifier: MIT
// Re-encoding of an XML document that declares a character encoding into
// UTF-8, for documents the feed parser could not read in their own encoding.
#pragma once

#include "toolkit/stream.h"

namespace tidewell {

// Reads input in the encoding its declaration names and writes to output the
// prolog <?xml version="1.0" encoding="UTF-8"?> followed by the root
// element's markup in UTF-8; output is rewound. Returns false, writing
// nothing, when the first 1024 bytes declare no usable encoding. A document
// that cannot be read in its declared encoding or as XML writes nothing and
// returns true: the caller's own parser then reports the failure.
// Thread-safe: each call works on its own data.
bool ConvertXmlToUtf8(kt::TStream& input, kt::TStream& output);

}  // namespace tidewell
