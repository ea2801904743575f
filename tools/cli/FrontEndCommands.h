// The commands TiVo front ends (kmttg, pyTivo, cTiVo) run under the names tivodecode and
// tdcat, with their command lines: each entry point's main calls one of these.
#pragma once

namespace korvane::cli {

// Decrypts a recording: korvane-tivodecode [-m KEY] [-o OUT] [-n] [-D] [-x] [-v] IN|-
int RunTivodecode(int argc, char** argv);

// Prints a metadata chunk: korvane-tdcat [-m KEY] [-1|-2] [-o OUT] IN|-
int RunTdcat(int argc, char** argv);

}  // namespace korvane::cli
