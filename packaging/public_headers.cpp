// The library's one source of its own: the public headers compiled on
// their own, first in their translation unit, with only the include folder
// users get. A public header that leaned on an engine header, or on one it
// does not include itself, fails here rather than in a user's build.
#include <velmora/deblur.h>
#include <velmora/vocabulary.h>
