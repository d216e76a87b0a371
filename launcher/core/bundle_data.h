// The source bundle carried inside the launcher as constant data. Defined by
// the qm_bundle_data library (launcher/embed), which the launcher executable
// and the tests that need the real bundle link.
#pragma once
#include <string_view>

// The whole bundle, from its magic to its last packed byte.
std::string_view embedded_bundle();
