#include "ui/batch/OutputNaming.h"

#include "AnsiText.h"

OutputName MakeOutputName(const std::string& source, const std::string* outputFolder, UINT codePage) {
    OutputName result;
    const int slash = LastCharIndex(source, '\\', codePage);
    if (outputFolder)
        result.folder = *outputFolder;
    else if (slash >= 2)
        result.folder = source.substr(0, static_cast<size_t>(slash));
    result.name = slash < 0 ? source : source.substr(static_cast<size_t>(slash) + 1);

    const std::string joined = result.folder + "\\" + result.name;
    const int dot = LastCharIndex(joined, '.', codePage);
    // A name without any '.' only gets here when the user let a non-TiVo file through;
    // it keeps its whole name and gains the extension.
    result.output = dot < 0 ? joined + ".mpg" : joined.substr(0, static_cast<size_t>(dot) + 1) + "mpg";
    return result;
}

bool HasTiVoExtension(const std::string& source, UINT codePage) {
    const int dot = LastCharIndex(source, '.', codePage);
    const std::string extension = dot < 0 ? source : source.substr(static_cast<size_t>(dot) + 1);
    // Character by character: lstrcmpiA compares linguistically and passes "ti\xADvo" (a soft
    // hyphen inside) as "tivo". Only ASCII letters can match, and none of them is a lead byte.
    static const char kTiVo[] = "tivo";
    if (extension.size() != sizeof kTiVo - 1) return false;
    for (size_t i = 0; i < extension.size(); ++i) {
        char c = extension[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kTiVo[i]) return false;
    }
    return true;
}
