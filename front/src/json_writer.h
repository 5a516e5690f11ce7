#pragma once
// The two JSON documents on standard output, written by hand so that member
// order, layout and number forms are fixed to the character.
#include <string>

#include "pipeline/pipeline.h"
#include "probe/media_info.h"

namespace reel {

// A double in the reports' number form: shortest round-trip digits, plain for
// decimal exponents -5 < k <= 16 (always with a digit after the point), exponent
// form otherwise; "null" when not finite.
std::string json_number(double value);
// The text in double quotes with the reports' escapes.
std::string json_string(std::string_view text);

// Both documents come without a trailing line end.
std::string write_probe_json(const MediaInfo& info);
std::string write_run_report_json(const RunReport& report);

}  // namespace reel
