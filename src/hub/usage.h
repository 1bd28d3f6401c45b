// The two questions the hub answers without running anything: --help and --version.
#pragma once

#include <cstdio>

enum HubQuery : int {
    HUB_QUERY_NONE,    // any other command line: the hub runs as usual
    HUB_QUERY_HELP,    // "--help" as the one and only argument
    HUB_QUERY_VERSION, // "--version" as the one and only argument
};

// Which question the command line asks. Only a lone "--help" or "--version" is a question:
// together with any other argument they are ordinary arguments, passed on by the relaunch.
HubQuery find_query(int count, char **arguments);

// Writes the usage text or the "update-hub 1.4.0" line to out. Returns 0, or EIO when the text
// cannot be written completely.
int answer_query(HubQuery query, FILE *out);
