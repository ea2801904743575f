#include "metadata/PyTivoText.h"

#include <initializer_list>

#include "metadata/Xml.h"

namespace korvane::metadata {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// One line per field: line breaks inside a value become spaces, and the ends are trimmed.
std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '\r' || c == '\n' || c == '\t' ? ' ' : c;
    const size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

// Codes (ratings, showingBits, colorCode) stand in a value attribute, with a readable name
// as the text; plain fields are text.
std::string ValueOf(const XmlElement& element) {
    if (const std::string* value = element.Attribute("value")) return OneLine(*value);
    return OneLine(element.text);
}

// The field from the first of the places that has it.
std::string Field(std::initializer_list<const XmlElement*> places, const char* name) {
    for (const XmlElement* place : places)
        if (const XmlElement* element = place ? place->Child(name) : nullptr) return ValueOf(*element);
    return {};
}

class Lines {
public:
    void Add(const char* keyword, const std::string& value) {
        if (!value.empty()) m_text += std::string(keyword) + " : " + value + "\n";
    }
    // A list is an element holding one <element> per value.
    void AddList(std::initializer_list<const XmlElement*> places, const char* name) {
        for (const XmlElement* place : places) {
            const XmlElement* list = place ? place->Child(name) : nullptr;
            if (!list) continue;
            for (const XmlElement& item : list->children)
                if (LocalName(item.name) == "element") Add(name, ValueOf(item));
            return;
        }
    }
    std::string Text() const { return m_text; }

private:
    std::string m_text;
};

}  // namespace

std::string DropCopyrightNotice(const std::string& description) {
    // Guide notices are one short sentence; a longer tail is the description talking about
    // copyright, and stays.
    constexpr size_t kLongestNotice = 80;
    const std::string kWord = "Copyright";
    for (size_t at = description.rfind(kWord); at != std::string::npos && at > 0;
         at = description.rfind(kWord, at - 1)) {
        if (description.size() - at > kLongestNotice) break;
        size_t before = at;
        while (before > 0 && IsSpace(description[before - 1]))
            --before;
        if (before == 0 || before == at) continue;
        // It starts a sentence or a line of its own.
        const char end = description[before - 1];
        const bool newLine = description.find('\n', before) < at;
        if (newLine || end == '.' || end == '!' || end == '?' || end == ')' || end == '"')
            return description.substr(0, before);
    }
    return description;
}

bool PyTivoText(const std::string& xml, std::string* text, std::string* error) {
    XmlElement root;
    if (!ParseXml(xml, &root, error)) return false;
    const XmlElement* showing = root.Find("showing");
    const XmlElement* program = showing ? showing->Child("program") : root.Find("program");
    const XmlElement* series = program ? program->Child("series") : nullptr;
    const XmlElement* station = showing ? showing->Child("station") : nullptr;

    const std::string seriesTitle = Field({series, program}, "seriesTitle");
    const std::string episodeTitle = Field({program}, "episodeTitle");
    std::string title = Field({program}, "title");
    if (!seriesTitle.empty() && !episodeTitle.empty())
        title = seriesTitle + " - " + episodeTitle;
    else if (title.empty())
        title = !seriesTitle.empty() ? seriesTitle : episodeTitle;

    Lines lines;
    lines.Add("title", title);
    lines.Add("seriesTitle", seriesTitle);
    lines.Add("episodeTitle", episodeTitle);
    const XmlElement* description = program ? program->Child("description") : nullptr;
    lines.Add("description", description ? OneLine(DropCopyrightNotice(description->text)) : "");
    lines.Add("time", Field({showing}, "time"));
    lines.Add("originalAirDate", Field({program}, "originalAirDate"));
    lines.Add("movieYear", Field({program}, "movieYear"));
    lines.Add("isEpisode", Field({program}, "isEpisode"));
    lines.Add("episodeNumber", Field({program}, "episodeNumber"));
    lines.Add("seriesId", Field({series}, "uniqueId"));
    lines.Add("programId", Field({program}, "uniqueId"));
    lines.Add("callsign", Field({station, showing}, "callsign"));
    lines.Add("displayMajorNumber", Field({station, showing}, "displayMajorNumber"));
    lines.Add("displayMinorNumber", Field({station, showing}, "displayMinorNumber"));
    lines.Add("showingBits", Field({showing}, "showingBits"));
    lines.Add("tvRating", Field({showing, program}, "tvRating"));
    lines.Add("mpaaRating", Field({program, showing}, "mpaaRating"));
    lines.Add("starRating", Field({program, showing}, "starRating"));
    lines.Add("colorCode", Field({program, showing}, "colorCode"));
    for (const char* list : {"vActor", "vGuestStar", "vDirector", "vExecProducer", "vProducer", "vWriter",
                             "vHost", "vChoreographer", "vProgramGenre"})
        lines.AddList({program}, list);
    lines.AddList({series, program}, "vSeriesGenre");
    lines.AddList({program, showing}, "vAdvisory");
    *text = lines.Text();
    return true;
}

}  // namespace korvane::metadata
