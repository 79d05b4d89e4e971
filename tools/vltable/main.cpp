// vltable: the administration and export tool for Veltra tables. Creates
// tables from JSON schemas, inserts, dumps, counts, finds, updates and
// deletes records, checks a table's integrity and holds a record's lock. See
// kUsageText for the commands and tool_errors.h for the exit statuses.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "commands.h"
#include "platform/format_settings.h"
#include "tool_errors.h"

using namespace veltra;
using namespace veltra::vltable;

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsageText, stdout);
        return kExitOk;
    }
    // Filter texts and any text conversions use the fixed US forms
    // (3/14/2002, a full stop for decimals), whatever the machine's locale.
    TFormatSettingsScope formats(UsFormatSettings());
    try {
        return RunCommand(ParseCommandLine(args));
    } catch (const EUsage& e) {
        std::fprintf(stderr, "vltable: %s\n%s", e.what(), kUsageText);
        return kExitUsage;
    } catch (const ENotFound& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return kExitNotFound;
    } catch (const std::exception& e) {
        // Engine errors keep the engine's own wording.
        std::fprintf(stderr, "%s\n", e.what());
        return kExitError;
    }
}
