#pragma once

namespace vocalith {

// Scroll areas answer screen readers through an interface of our own. Qt 6.4's reads
// past its list of children when asked for one that has just gone (a scroll bar hidden
// since the screen reader counted them) and crashes the application; ours says there is
// no such child. Installing it more than once is harmless.
void installAccessibleScrollAreas();

} // namespace vocalith
