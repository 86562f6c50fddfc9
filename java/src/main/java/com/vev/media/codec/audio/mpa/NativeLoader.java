package com.vev.media.codec.audio.mpa;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.channels.Channels;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.EnumSet;
import java.util.Locale;

/**
 * Loads librovaz, once: the first librovaz.so on java.library.path when there is one, else the copy
 * carried inside the jar, extracted into a fresh folder that only the owner may enter and deleted,
 * folder and all, as soon as it is loaded. The library must be of the jar's version.
 *
 * <p>A failure is remembered: every later {@link #load()} throws an UnsatisfiedLinkError with the same
 * message, which says what was tried and why it failed.
 */
final class NativeLoader {
    private static final String LIBRARY = System.mapLibraryName("rovaz");

    private static volatile boolean loaded;
    // Both guarded by the class.
    private static boolean tried;
    private static UnsatisfiedLinkError failure;

    private NativeLoader() {
    }

    /** Loads the library unless it is loaded; throws, every time, when it cannot be. */
    static void load() {
        if (!loaded) {
            loadOnce();
        }
    }

    /** Whether the library is loaded, or loads now; never throws for a library that cannot be used. */
    static boolean isAvailable() {
        try {
            load();
            return true;
        } catch (UnsatisfiedLinkError e) {
            return false;
        }
    }

    /** Why the library cannot be used (after {@link #isAvailable()} said false), or null. */
    static synchronized String failure() {
        return failure == null ? null : failure.getMessage();
    }

    private static synchronized void loadOnce() {
        if (!tried) {
            tried = true;
            try {
                loadLibrary();
                loaded = true;
            } catch (UnsatisfiedLinkError | RuntimeException e) {
                failure = e instanceof UnsatisfiedLinkError ? (UnsatisfiedLinkError) e
                        : (UnsatisfiedLinkError) new UnsatisfiedLinkError("cannot load librovaz: " + e).initCause(e);
            }
        }
        if (!loaded) {
            // A new error each time, for the caller's stack, caused by the first.
            UnsatisfiedLinkError e = new UnsatisfiedLinkError(failure.getMessage());
            e.initCause(failure);
            throw e;
        }
    }

    private static void loadLibrary() {
        String path = System.getProperty("java.library.path", "");
        for (String dir : path.split(File.pathSeparator, -1)) {
            File file = new File(dir.isEmpty() ? "." : dir, LIBRARY);
            if (file.isFile()) {
                String name = file.getAbsolutePath();
                try {
                    System.load(name);
                } catch (UnsatisfiedLinkError e) {
                    throw (UnsatisfiedLinkError) new UnsatisfiedLinkError("cannot load librovaz: " + name
                            + " (found on java.library.path) does not load: " + e.getMessage()).initCause(e);
                }
                checkVersion(name + " (found on java.library.path)",
                        "put the librovaz.so of this jar there, or take it off the path to use the jar's own copy");
                return;
            }
        }
        loadFromJar("no " + LIBRARY + " on java.library.path (" + path + ")");
    }

    private static void loadFromJar(String notOnPath) {
        String resource = resource();
        Path file;
        try {
            file = extract(resource);
        } catch (IOException e) {
            UnsatisfiedLinkError error = new UnsatisfiedLinkError("cannot load librovaz: " + notOnPath
                    + ", and extracting the jar's " + resource + " into java.io.tmpdir ("
                    + System.getProperty("java.io.tmpdir") + ") failed: " + e);
            error.initCause(e);
            throw error;
        }
        if (file == null) {
            throw new UnsatisfiedLinkError("cannot load librovaz: " + notOnPath + ", and the jar has no library"
                    + " for this platform, " + platform() + " (it has " + platformsInJar()
                    + "); build one from source for it, see the README");
        }
        try {
            System.load(file.toString());
        } finally {
            delete(file);   // Linux keeps a loaded library mapped after its file is gone
        }
        checkVersion("the jar's " + resource, "the jar was assembled from another build");
    }

    /** Where the jar holds the library for this platform. */
    static String resource() {
        return "native/" + platform() + "/" + LIBRARY;
    }

    /**
     * Copies a resource of the jar into a new file in a new folder of java.io.tmpdir, both only for the
     * owner (where the file system has POSIX permissions); null when the jar does not hold it.
     */
    static Path extract(String resource) throws IOException {
        InputStream in = NativeLoader.class.getResourceAsStream("/" + resource);
        if (in == null) {
            return null;
        }
        Path file = null;
        try (in) {
            file = Files.createTempDirectory("rovaz", ownerOnly("rwx------")).resolve(LIBRARY);
            try (OutputStream out = Channels.newOutputStream(Files.newByteChannel(file,
                    EnumSet.of(StandardOpenOption.CREATE_NEW, StandardOpenOption.WRITE), ownerOnly("rw-------")))) {
                in.transferTo(out);
            }
            return file;
        } catch (IOException | RuntimeException e) {
            if (file != null) {
                delete(file);
            }
            throw e;
        }
    }

    /** Deletes an extracted file and its folder; at exit when that fails. */
    static void delete(Path file) {
        Path dir = file.getParent();
        try {
            Files.deleteIfExists(file);
            Files.deleteIfExists(dir);
        } catch (IOException e) {
            // At exit the last registered goes first: the file, then its folder.
            dir.toFile().deleteOnExit();
            file.toFile().deleteOnExit();
        }
    }

    /** Refuses a loaded library whose version is not the jar's. */
    private static void checkVersion(String library, String remedy) {
        String version;
        try {
            version = nVersion();
        } catch (UnsatisfiedLinkError e) {
            version = null;   // a library older than the version check
        }
        if (!BuildVersion.VERSION.equals(version)) {
            throw new UnsatisfiedLinkError("cannot use librovaz: " + library + " is "
                    + (version == null ? "of a version that does not tell it" : "version " + version)
                    + ", but this jar needs version " + BuildVersion.VERSION + ": " + remedy);
        }
    }

    /** Owner-only permissions for a new file or folder, where the file system has POSIX permissions. */
    private static FileAttribute<?>[] ownerOnly(String permissions) {
        if (!FileSystems.getDefault().supportedFileAttributeViews().contains("posix")) {
            return new FileAttribute<?>[0];
        }
        return new FileAttribute<?>[] {PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString(permissions))};
    }

    /** This JVM's platform as the jar names its library folders: "linux-x86_64", "windows-x86_64", ... */
    private static String platform() {
        return platform(System.getProperty("os.name", ""), System.getProperty("os.arch", ""));
    }

    static String platform(String osName, String osArch) {
        String os = osName.toLowerCase(Locale.ROOT);
        if (os.startsWith("linux")) {
            os = "linux";
        } else if (os.startsWith("windows")) {
            os = "windows";
        } else if (os.startsWith("mac") || os.startsWith("darwin")) {
            os = "macos";
        } else {
            os = os.replace(' ', '_');
        }
        String arch = osArch.toLowerCase(Locale.ROOT);
        if (arch.equals("amd64") || arch.equals("x86-64")) {
            arch = "x86_64";
        } else if (arch.equals("arm64")) {
            arch = "aarch64";
        }
        return os + "-" + arch;
    }

    /** The platforms the jar has a library for, of those it may have. */
    static String platformsInJar() {
        StringBuilder s = new StringBuilder();
        for (String p : new String[] {"linux-x86_64", "linux-aarch64", "windows-x86_64", "macos-x86_64",
            "macos-aarch64"}) {
            String name = p.startsWith("windows") ? "rovaz.dll" : p.startsWith("macos") ? "librovaz.dylib"
                    : "librovaz.so";
            if (NativeLoader.class.getResource("/native/" + p + "/" + name) != null) {
                s.append(s.length() > 0 ? ", " : "").append(p);
            }
        }
        return s.length() > 0 ? s.toString() : "none";
    }

    /** The library's version: the CMake project's version it was built as. */
    private static native String nVersion();
}
