#include "app/history/ticket_history.h"

#include <vector>

#include "engine/codec.h"
#include "platform/dataset.h"
#include "platform/date_format.h"
#include "platform/format_settings.h"
#include "platform/locale_services.h"
#include "platform/rtf/rtf.h"

namespace veltra {

namespace {

constexpr size_t kCutAfterOld = 75;
constexpr size_t kCutLine = 100;

double TodayValue() {
    return static_cast<double>(TodayDayNumber() - datetime_text::kDayNumberOf18991230);
}

// Leading and trailing blanks and control characters, line breaks included.
std::string TrimControls(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
    return text.substr(first, last - first);
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        if (end == text.size()) break;
        // CR LF, LF and a lone CR each end one line.
        start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
    }
    return lines;
}

// The stored description as a document that ends with the writer's closing
// sequence, so that cutting those characters leaves it open for the history.
std::string DescriptionBase(const std::string& stored) {
    if (stored.size() >= kRtfClosing.size() &&
        std::string_view(stored).substr(stored.size() - kRtfClosing.size()) == kRtfClosing)
        return stored;
    return WriteRtf(ReadRtf(stored));
}

}  // namespace

std::string RtfEscapeCp1252(const std::string& text) {
    static const char* const kHex = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '{' || c == '}') {
            out += '\\';
            out += c;
        } else if (byte >= 0x80) {
            out += "\\'";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

std::string TTicketHistory::ChangedLine(const std::string& prefix, const std::string& field,
                                        const std::string& oldText, const std::string& newText) {
    std::string line = prefix + " changed " + field + " from " + oldText;
    if (line.size() > kCutAfterOld) line.resize(kCutAfterOld);
    line += " to " + newText;
    if (line.size() > kCutLine) line.resize(kCutLine);
    return line;
}

void TTicketHistory::TakeSnapshot(const TDataSet& table) {
    for (size_t i = 0; i < m_Snapshot.size(); ++i)
        m_Snapshot[i] = table.FieldByName(kFieldList[i]).AsString();
}

void TTicketHistory::BeforePost(TDataSet& table, const std::string& user, bool descriptionModified) {
    const TFormatSettings& fs = FormatSettings();
    // One time text for every line of this post.
    const std::string date = Utf8ToCp1252(
        TodayText ? TodayText() : Cp1252ToUtf8(datetime_text::DateToText(TodayValue(), fs)));
    const std::string time = Utf8ToCp1252(
        TimeText ? TimeText()
                 : Cp1252ToUtf8(datetime_text::TimeToText(
                       static_cast<double>(NowMilliseconds()) / datetime_text::kMsPerDay, fs)));
    const std::string prefix = date + " at " + time + " " + Utf8ToCp1252(user);

    TField& history = table.FieldByName("History");
    std::string text = TrimControls(Utf8ToCp1252(history.AsString()));
    const bool isNew = text.empty();
    if (isNew) text = kHeading;
    std::vector<std::string> lines = SplitLines(text);

    for (size_t i = 0; i < m_Snapshot.size(); ++i) {
        const std::string now = table.FieldByName(kFieldList[i]).AsString();
        if (now == m_Snapshot[i] || isNew) continue;
        lines.push_back(RtfEscapeCp1252(ChangedLine(prefix, kFieldList[i], Utf8ToCp1252(m_Snapshot[i]),
                                                    Utf8ToCp1252(now))) +
                        "\\par");
    }
    if (!isNew && descriptionModified)
        lines.push_back(RtfEscapeCp1252(prefix + " changed Description") + "\\par");
    if (isNew) lines.push_back(RtfEscapeCp1252(prefix + " submitted ticket") + "\\par");

    std::string joined;
    std::string all;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) joined += "\r\n";
        joined += lines[i];
        all += lines[i] + "\r\n";
    }
    history.SetAsString(Cp1252ToUtf8(joined));
    table.FieldByName("Last update").SetAsDateTime(TodayValue());

    TField& description = table.FieldByName("Description");
    std::string base = DescriptionBase(table.ReadBlob(description));
    base.resize(base.size() - kRtfClosing.size());
    table.WriteBlob(table.FieldByName("All"), base + all + "\\par }");
}

}  // namespace veltra
