package com.vev.media.codec.audio.mpa;

import java.util.Map;

/**
 * Receives the metadata a Shoutcast or Icecast server interleaves with its audio. Called once per
 * metadata block whose content differs from the one before, on the thread that reads the stream, when
 * that thread reaches the block; a slow listener holds up the reading.
 */
@FunctionalInterface
public interface IcyMetadataListener {
    /**
     * @param streamTitle {@code fields.get("StreamTitle")}, or null when the block has none
     * @param fields every {@code key='value';} pair of the block, in order, unmodifiable
     */
    void metadata(String streamTitle, Map<String, String> fields);
}
