// The text file pyTivo, kmttg and media-server helpers keep beside a recording
// ("show.mpg.txt"): one "keyword : value" line per field, a line per value for lists, made
// from the metadata XML a TiVo puts in the recording.
#pragma once

#include <string>

namespace korvane::metadata {

// The pyTivo text of a metadata document (the TvBusEnvelope of a recording's second metadata
// chunk). Fields the document lacks are left out; values come through as written (UTF-8,
// dates, rating codes). False with *error when the document is not well-formed XML.
bool PyTivoText(const std::string& xml, std::string* text, std::string* error);

// A description without the guide's copyright notice at its end ("... Copyright Tribune
// Media Services, Inc."): the notice is the last sentence and starts with "Copyright".
std::string DropCopyrightNotice(const std::string& description);

}  // namespace korvane::metadata
