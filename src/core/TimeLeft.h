#pragma once

#include <QString>

namespace vocalith {

// "about 2 min left", rounded to what a person can use; "less than a minute left" below that.
QString timeLeftText(double seconds);

} // namespace vocalith
