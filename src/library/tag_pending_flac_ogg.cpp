// Placeholders while the FLAC and Ogg readers are written.
#include "library/tags.h"

int tags_read_flac(const TagSource*, TrackTags*) { return 0; }
int tags_read_ogg(const TagSource*, TrackTags*, int*) { return 0; }
