// Placeholders while the MP4 and ASF readers are written.
#include "library/tags.h"

int tags_read_mp4(const TagSource*, TrackTags*) { return 0; }
int tags_read_asf(const TagSource*, TrackTags*) { return 0; }
