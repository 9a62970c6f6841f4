// Placeholders for the format readers while they are written: each says "not this format".
#include "library/tags.h"

int tags_read_mp3(const TagSource*, TrackTags*) { return 0; }
int tags_read_flac(const TagSource*, TrackTags*) { return 0; }
int tags_read_ogg(const TagSource*, TrackTags*, int*) { return 0; }
int tags_read_mp4(const TagSource*, TrackTags*) { return 0; }
int tags_read_asf(const TagSource*, TrackTags*) { return 0; }
int tags_read_wav(const TagSource*, TrackTags*) { return 0; }
