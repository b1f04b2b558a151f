#pragma once

#include <set>
#include <string>

// The CSS colour keywords, names only: the extended colour keywords without
// the seven "grey" spellings (their "gray" forms are kept). 140 names, all in
// lower case; lookups are case-sensitive.
std::set<std::string> buildCSSColorNames();
