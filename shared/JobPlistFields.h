#pragma once

#include "shared/LaunchJobFacts.h"

#include <string_view>

// The property-list reading that LaunchJobFacts::parsePlist hands a job
// plist's bytes to, on a thread of its own, once their size has been checked:
// "Label" and the program, both absent when the bytes are not a property list
// holding a dictionary.
LaunchJobFacts::PlistFields jobPlistFields(std::string_view bytes);
