// Per-file overrides of the warning and error policies (and the entry description) for
// the package builder, read from a text file:
//
//   # comment
//   PATTERN  WARNING  ERROR  [DESCRIPTION]
//
// PATTERN is a glob as for --exclude (in double quotes when it holds spaces), WARNING and
// ERROR are policies 0 to 3, and the rest of the line, if any, is the entry description
// (at most 79 characters). Blank lines and lines starting with "#" are skipped. When
// several lines match a file, the last one wins.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "builder/tree.h"

struct PolicyRule {
    Glob pattern;
    uint8_t warning_policy;
    uint8_t error_policy;
    std::string description;
    int line;
};

struct EntryPolicy {
    uint8_t warning_policy;
    uint8_t error_policy;
    std::string description;
};

// Parses the text of a policy file; every malformed line adds an error naming `source`
// and its line number. False when there were errors.
bool ParsePolicies(const std::string& text, const std::string& source, std::vector<PolicyRule>* rules,
                   std::vector<std::string>* errors);

// The policies of the entry `name`: the last matching rule, else the defaults.
EntryPolicy PolicyFor(const std::vector<PolicyRule>& rules, const std::string& name, const EntryPolicy& defaults);
