// Where a batch writes the output of one source, and which sources are TiVo files.
#pragma once

#include <windows.h>

#include <string>

struct OutputName {
    std::string folder;  // as the overwrite question names it
    std::string name;    // the source's file name, extension included
    std::string output;  // folder, one backslash, name, with the last extension made "mpg"
};

// outputFolder null: beside the source. Nothing is normalised: a folder ending in a
// backslash gives two in a row, an empty folder gives a path from the drive's root.
OutputName MakeOutputName(const std::string& source, const std::string* outputFolder, UINT codePage = CP_ACP);

// Whether the text after the last '.' (the whole path when there is none) is "tivo" in
// any letter case.
bool HasTiVoExtension(const std::string& source, UINT codePage = CP_ACP);
