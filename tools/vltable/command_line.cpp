#include <charconv>
#include <map>
#include <set>

#include "commands.h"
#include "tool_errors.h"

namespace veltra::vltable {

const char* const kUsageText =
    "usage:\n"
    "  vltable create TABLE --schema SCHEMA.json\n"
    "  vltable info TABLE\n"
    "  vltable insert TABLE                (one JSON object per stdin line)\n"
    "  vltable dump TABLE [--index NAME] [--filter TEXT] [--case-insensitive] [--no-partial]\n"
    "                     [--format jsonl|csv] [--fields F1,F2,...] [--plain-text]\n"
    "  vltable count TABLE [--index NAME] [--filter TEXT] [--case-insensitive] [--no-partial]\n"
    "  vltable find TABLE --index NAME VALUE [VALUE...]\n"
    "  vltable update TABLE --id N         (one JSON object on stdin)\n"
    "  vltable delete TABLE --id N\n"
    "  vltable verify TABLE\n"
    "  vltable repair TABLE                (backup beside the table, then rebuild; one line per repair)\n"
    "  vltable hold TABLE --id N --seconds S\n"
    "options for every command: --exclusive, --read-only, --lock-retry N, --lock-wait MS\n";

namespace {

// The options each command takes besides the common ones.
const std::map<std::string, std::set<std::string>> kCommandOptions{
    {"create", {"--schema"}},
    {"info", {}},
    {"insert", {}},
    {"dump", {"--index", "--filter", "--case-insensitive", "--no-partial", "--format", "--fields", "--plain-text"}},
    {"count", {"--index", "--filter", "--case-insensitive", "--no-partial"}},
    {"find", {"--index"}},
    {"update", {"--id"}},
    {"delete", {"--id"}},
    {"verify", {}},
    {"repair", {}},
    {"hold", {"--id", "--seconds"}},
};

const std::set<std::string> kFlags{"--exclusive", "--read-only", "--case-insensitive", "--no-partial",
                                   "--plain-text"};

int64_t WholeNumber(const std::string& option, const std::string& text, int64_t lo, int64_t hi) {
    int64_t v = 0;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || p != end || v < lo || v > hi)
        throw EUsage(option + " needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                     ", not \"" + text + "\"");
    return v;
}

std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> names;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        names.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    for (const auto& n : names)
        if (n.empty()) throw EUsage("--fields has an empty field name");
    return names;
}

}  // namespace

TOptions ParseCommandLine(const std::vector<std::string>& args) {
    TOptions o;
    std::vector<std::string> positional;
    std::set<std::string> seen;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() < 2 || a.compare(0, 2, "--") != 0 || a == "--") {
            positional.push_back(a);
            continue;
        }
        if (!seen.insert(a).second) throw EUsage(a + " given twice");
        std::string value;
        if (!kFlags.count(a)) {
            if (i + 1 >= args.size()) throw EUsage(a + " needs a value");
            value = args[++i];
        }
        if (a == "--exclusive") o.Exclusive = true;
        else if (a == "--read-only") o.ReadOnly = true;
        else if (a == "--case-insensitive") o.CaseInsensitive = true;
        else if (a == "--no-partial") o.NoPartial = true;
        else if (a == "--plain-text") o.PlainText = true;
        else if (a == "--lock-retry") o.LockRetry = int(WholeNumber(a, value, 0, 255));
        else if (a == "--lock-wait") o.LockWait = int(WholeNumber(a, value, 0, 65535));
        else if (a == "--schema") o.Schema = value;
        else if (a == "--index") o.Index = value;
        else if (a == "--filter") o.Filter = value;
        else if (a == "--format") o.Format = value;
        else if (a == "--fields") o.Fields = SplitFields(value);
        else if (a == "--id") o.Id = WholeNumber(a, value, 1, 2147483647);
        else if (a == "--seconds") {
            o.Seconds = double(WholeNumber(a, value, 0, 86400));
        } else {
            throw EUsage("unknown option " + a);
        }
    }
    if (positional.empty()) throw EUsage("no command given");
    o.Command = positional[0];
    const auto allowed = kCommandOptions.find(o.Command);
    if (allowed == kCommandOptions.end()) throw EUsage("unknown command \"" + o.Command + "\"");
    if (positional.size() < 2) throw EUsage(o.Command + " needs a TABLE");
    o.Table = positional[1];
    o.Values.assign(positional.begin() + 2, positional.end());
    for (const auto& option : seen) {
        const bool common = option == "--exclusive" || option == "--read-only" || option == "--lock-retry" ||
                            option == "--lock-wait";
        if (!common && !allowed->second.count(option)) throw EUsage(o.Command + " does not take " + option);
    }
    if (o.Command == "find") {
        if (!o.Index) throw EUsage("find needs --index NAME");
        if (o.Values.empty()) throw EUsage("find needs at least one VALUE");
    } else if (!o.Values.empty()) {
        throw EUsage("unexpected argument \"" + o.Values[0] + "\"");
    }
    if (o.Command == "create" && o.Schema.empty()) throw EUsage("create needs --schema SCHEMA.json");
    if ((o.Command == "update" || o.Command == "delete" || o.Command == "hold") && !o.Id)
        throw EUsage(o.Command + " needs --id N");
    if (o.Command == "hold" && !o.Seconds) throw EUsage("hold needs --seconds S");
    if (o.Format != "jsonl" && o.Format != "csv") throw EUsage("--format is jsonl or csv");
    return o;
}

}  // namespace veltra::vltable
