#pragma once

#include <string>
#include <string_view>

// The bytes that open the program marker: "QUELVO-PROGRAMA=", the program's name ("quelvo",
// "quelvo-monitor") and a NUL. FileProgram looks for them.
#define QUELVO_PROGRAM_MARKER_PREFIX "QUELVO-PROGRAMA="

// Compiles into an executable the marker that says which of our programs it is; used once, in the
// file of the program's main, as `QUELVO_PROGRAM_MARKER("quelvo");`. Kept even when unreferenced.
// The self-update installs a download only when its marker names the running program.
#define QUELVO_PROGRAM_MARKER(name) \
    [[gnu::used]] static const char quelvo_program_marker[] = QUELVO_PROGRAM_MARKER_PREFIX name

namespace quelvo {

// The version of this build, "1.6.0.0" style.
std::string ProgramVersion();

// The bytes that open the version marker in an executable; FileVersion looks for them.
std::string_view VersionMarkerPrefix();

// Whether `candidate` is a later version than `current`: the four numbers compared one by one,
// as numbers ("1.10.0.0" is later than "1.9.0.0"). False when `candidate` is no version text
// ("a.b.c.d", each 0..65535) or `current` is a text that is not one; an empty `current` (an
// executable without a version marker) is earlier than every version.
bool NewerVersion(std::string_view candidate, std::string_view current);

}  // namespace quelvo
