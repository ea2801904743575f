// Which Media Access Key opens an encrypted recording: a stored key that fits, else the
// owner's answer in the key dialog when there is someone to ask.
#pragma once

#include <windows.h>

#include <string>

#include "media/Io.h"
#include "media/TivoContainer.h"
#include "media/TivoKeys.h"

namespace korvane::filters {

// Tries the stored keys by the file's metadata check (the video only for a file without
// encrypted metadata). When none fits and the calling thread has a visible, enabled
// top-level window, asks over it, even while another program is in front. True with *keys set when a key
// fits; false when none does or the owner cancelled.
bool FindRecordingKeys(media::ByteSource& source, const media::TivoFile& tivo, const std::wstring& fileName,
                       media::TivoKeys* keys);

}  // namespace korvane::filters
