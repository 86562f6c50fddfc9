package com.vev.media.codec.audio.mpa;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;

/**
 * Loads librovaz: from java.library.path when it is there, else the copy carried inside the jar,
 * extracted once per process to a temporary file.
 */
final class NativeLoader {
    private static boolean loaded;

    private NativeLoader() {
    }

    static synchronized void load() {
        if (loaded) {
            return;
        }
        try {
            System.loadLibrary("rovaz");
        } catch (UnsatisfiedLinkError notOnPath) {
            loadFromJar(notOnPath);
        }
        loaded = true;
    }

    private static void loadFromJar(UnsatisfiedLinkError notOnPath) {
        String resource = "/native/" + platform() + "/librovaz.so";
        try (InputStream in = NativeLoader.class.getResourceAsStream(resource)) {
            if (in == null) {
                throw notOnPath;
            }
            Path file = Files.createTempFile("librovaz", ".so");
            File f = file.toFile();
            f.deleteOnExit();
            Files.copy(in, file, StandardCopyOption.REPLACE_EXISTING);
            System.load(f.getAbsolutePath());
        } catch (IOException e) {
            UnsatisfiedLinkError error = new UnsatisfiedLinkError("cannot extract " + resource + ": " + e);
            error.addSuppressed(notOnPath);
            throw error;
        }
    }

    private static String platform() {
        String os = System.getProperty("os.name", "").toLowerCase(java.util.Locale.ROOT);
        String arch = System.getProperty("os.arch", "");
        if (arch.equals("amd64")) {
            arch = "x86_64";
        }
        return (os.startsWith("linux") ? "linux" : os.replace(' ', '_')) + "-" + arch;
    }
}
