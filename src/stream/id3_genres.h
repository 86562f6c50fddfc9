// ID3v1 genre names by number.
#ifndef ROVAZ_STREAM_ID3_GENRES_H
#define ROVAZ_STREAM_ID3_GENRES_H

// The genre name of an ID3v1 genre number (0..191), or null.
const char *mpa_id3_genre_name(int number);

#endif
