package com.vev.media.codec.audio.mpa;

import java.util.HashMap;
import java.util.Locale;
import java.util.Map;

/**
 * The Java Sound properties of MPEG audio files and formats, under the keys that Java Sound programs
 * already read: the standard ones ("duration", "author", "title", "album", "date", "comment",
 * "copyright", "bitrate", "vbr") and the "mp3." keys of the established MP3 providers.
 */
final class MpegProperties {
    /** PCM format property: "truncate" asks 16-bit samples truncated toward zero instead of rounded. */
    static final String ROUNDING = "rounding";
    static final String TRUNCATE = "truncate";

    // Tags under the standard keys, then the "mp3.id3tag." ones; the rest go by their own key.
    private static final String[][] TAG_KEYS = {
        {"title", "title"}, {"artist", "author"}, {"album", "album"}, {"date", "date"},
        {"comment", "comment"}, {"TCOP", "copyright"}, {"TCR", "copyright"},
        {"genre", "mp3.id3tag.genre"}, {"track", "mp3.id3tag.track"}, {"TCOM", "mp3.id3tag.composer"},
        {"TCM", "mp3.id3tag.composer"}, {"TPUB", "mp3.id3tag.publisher"}, {"TPB", "mp3.id3tag.publisher"},
        {"TPOS", "mp3.id3tag.disc"}, {"TPA", "mp3.id3tag.disc"}, {"TENC", "mp3.id3tag.encoded"},
        {"TEN", "mp3.id3tag.encoded"}, {"TPE2", "mp3.id3tag.orchestra"}, {"TP2", "mp3.id3tag.orchestra"},
        {"lyrics", "mp3.id3tag.lyrics"},
    };

    private MpegProperties() {
    }

    /** The properties of an AudioFileFormat; byteLength of the whole input, or -1. */
    static Map<String, Object> ofFile(MpegStreamInfo info, long byteLength) {
        Map<String, Object> p = ofFormat(info);
        if (info.getDurationMicros() >= 0) {
            p.put("duration", info.getDurationMicros());
        }
        p.put("mp3.version.mpeg", info.getMpegVersionName());
        p.put("mp3.version.layer", Integer.toString(info.getLayer()));
        p.put("mp3.version.encoding", MpegEncoding.of(info.getMpegVersion(), info.getLayer()).toString());
        p.put("mp3.channels", info.getChannels());
        p.put("mp3.frequency.hz", info.getSampleRate());
        p.put("mp3.mode", info.getMode());
        p.put("mp3.mode.name", info.getChannelMode());
        p.put("mp3.vbr", info.isVbr());
        if (info.getBitRate() > 0) {
            p.put("mp3.bitrate.nominal.bps", info.getBitRate() * 1000);
        }
        p.put("mp3.framerate.fps", (float) info.getSampleRate() / info.getSamplesPerFrame());
        long frames = info.getCountedFrames() >= 0 ? info.getCountedFrames() : info.getFrameCount();
        if (frames >= 0 && frames <= Integer.MAX_VALUE) {
            p.put("mp3.length.frames", (int) frames);
        }
        if (byteLength >= 0 && byteLength <= Integer.MAX_VALUE) {
            p.put("mp3.length.bytes", (int) byteLength);
        }
        if (info.getFirstFrameOffset() >= 0 && info.getFirstFrameOffset() <= Integer.MAX_VALUE) {
            p.put("mp3.header.pos", (int) info.getFirstFrameOffset());
        }
        if (info.getEncoder() != null) {
            p.put("mp3.encoder", info.getEncoder());
        }
        Map<String, String> tags = new HashMap<>(info.getTags());
        for (String[] k : TAG_KEYS) {
            String v = tags.remove(k[0]);
            if (v != null) {
                p.putIfAbsent(k[1], v);
            }
        }
        for (Map.Entry<String, String> t : tags.entrySet()) {
            p.putIfAbsent("mp3.id3tag." + t.getKey().toLowerCase(Locale.ROOT), t.getValue());
        }
        return p;
    }

    /** The properties of the MPEG AudioFormat: "bitrate" (bit/s of the first frame) and "vbr". */
    static Map<String, Object> ofFormat(MpegStreamInfo info) {
        Map<String, Object> p = new HashMap<>();
        p.put("vbr", info.isVbr());
        if (info.getBitRate() > 0) {
            p.put("bitrate", info.getBitRate() * 1000);
        }
        return p;
    }
}
